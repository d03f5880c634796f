#include "History.h"

#include <kivo/Frame.h>
#include <kivo/Gesture.h>
#include <kivo/GestureList.h>
#include <kivo/Hand.h>
#include <kivo/HandList.h>
#include <kivo/Pointable.h>
#include <kivo/PointableList.h>

namespace Kivo {

namespace {

bool enabled(std::uint32_t mask, int type) {
    return type > 0 && type < 32 && (mask & (1u << static_cast<unsigned>(type))) != 0;
}

void appendGestures(std::vector<Gesture>& out, const std::shared_ptr<const FrameRecord>& frame,
                    std::uint32_t mask) {
    for (std::size_t i = 0; i < frame->gestures.size(); ++i) {
        if (enabled(mask, frame->gestures[i].type)) {
            out.emplace_back(frame, static_cast<int>(i));
        }
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Frame

Frame::Frame() = default;

Frame::Frame(std::shared_ptr<const FrameRecord> data, std::uint32_t gestureMask,
             std::shared_ptr<const detail::History> history)
    : m_data(std::move(data)), m_gestureMask(gestureMask), m_history(std::move(history)) {}

bool Frame::isValid() const {
    return m_data != nullptr;
}

std::int64_t Frame::id() const {
    return m_data ? m_data->id : -1;
}

std::int64_t Frame::timestamp() const {
    return m_data ? m_data->timestamp : 0;
}

HandList Frame::hands() const {
    return HandList(m_data);
}

PointableList Frame::pointables() const {
    return PointableList(m_data, nullptr);
}

GestureList Frame::gestures() const {
    if (!m_data || m_data->gestures.empty() || m_gestureMask == 0) {
        return GestureList();
    }
    auto list = std::make_shared<std::vector<Gesture>>();
    appendGestures(*list, m_data, m_gestureMask);
    return GestureList(std::move(list));
}

GestureList Frame::gestures(const Frame& since) const {
    if (!m_data || m_gestureMask == 0) {
        return GestureList();
    }
    const std::int64_t after = since.isValid() ? since.id() : 0;
    if (after >= m_data->id) {
        return GestureList();
    }
    auto list = std::make_shared<std::vector<Gesture>>();
    if (m_history) {
        for (const auto& frame : m_history->range(after, m_data->id - 1)) {
            appendGestures(*list, frame, m_gestureMask);
        }
    }
    appendGestures(*list, m_data, m_gestureMask);
    return GestureList(std::move(list));
}

bool Frame::operator==(const Frame& other) const {
    return m_data && other.m_data && m_data->id == other.m_data->id;
}

// ---------------------------------------------------------------------------------------------
// Hands and pointables

Hand::Hand() = default;

Hand::Hand(std::shared_ptr<const FrameRecord> frame, int index)
    : m_frame(std::move(frame)), m_index(index) {}

bool Hand::isValid() const {
    return m_frame != nullptr;
}
std::int32_t Hand::id() const {
    return m_frame ? m_frame->hands[m_index].id : 0;
}
Vector Hand::palmPosition() const {
    return m_frame ? m_frame->hands[m_index].palmPosition : Vector{};
}
Vector Hand::palmNormal() const {
    return m_frame ? m_frame->hands[m_index].palmNormal : Vector{};
}
Vector Hand::direction() const {
    return m_frame ? m_frame->hands[m_index].direction : Vector{};
}

PointableList Hand::pointables() const {
    if (!m_frame) {
        return PointableList();
    }
    auto indices = std::make_shared<std::vector<int>>();
    const std::int32_t handId = m_frame->hands[m_index].id;
    for (std::size_t i = 0; i < m_frame->pointables.size(); ++i) {
        if (m_frame->pointables[i].handId == handId) {
            indices->push_back(static_cast<int>(i));
        }
    }
    return PointableList(m_frame, std::move(indices));
}

Pointable::Pointable() = default;

Pointable::Pointable(std::shared_ptr<const FrameRecord> frame, int index)
    : m_frame(std::move(frame)), m_index(index) {}

bool Pointable::isValid() const {
    return m_frame != nullptr;
}
std::int32_t Pointable::id() const {
    return m_frame ? m_frame->pointables[m_index].id : 0;
}
std::int32_t Pointable::handId() const {
    return m_frame ? m_frame->pointables[m_index].handId : 0;
}
Vector Pointable::tipPosition() const {
    return m_frame ? m_frame->pointables[m_index].tipPosition : Vector{};
}
Vector Pointable::direction() const {
    return m_frame ? m_frame->pointables[m_index].direction : Vector{};
}
float Pointable::length() const {
    return m_frame ? m_frame->pointables[m_index].length : 0.0f;
}

// ---------------------------------------------------------------------------------------------
// Lists

HandList::HandList() = default;

HandList::HandList(std::shared_ptr<const FrameRecord> frame) : m_frame(std::move(frame)) {}

std::int32_t HandList::count() const {
    return m_frame ? static_cast<std::int32_t>(m_frame->hands.size()) : 0;
}

Hand HandList::operator[](std::int32_t index) const {
    if (index < 0 || index >= count()) {
        return Hand();
    }
    return Hand(m_frame, index);
}

PointableList::PointableList() = default;

PointableList::PointableList(std::shared_ptr<const FrameRecord> frame,
                             std::shared_ptr<const std::vector<int>> indices)
    : m_frame(std::move(frame)), m_indices(std::move(indices)) {}

std::int32_t PointableList::count() const {
    if (!m_frame) {
        return 0;
    }
    return static_cast<std::int32_t>(m_indices ? m_indices->size() : m_frame->pointables.size());
}

Pointable PointableList::operator[](std::int32_t index) const {
    if (index < 0 || index >= count()) {
        return Pointable();
    }
    return Pointable(m_frame, m_indices ? (*m_indices)[static_cast<std::size_t>(index)] : index);
}

GestureList::GestureList() = default;

GestureList::GestureList(std::shared_ptr<const std::vector<Gesture>> gestures)
    : m_gestures(std::move(gestures)) {}

std::int32_t GestureList::count() const {
    return m_gestures ? static_cast<std::int32_t>(m_gestures->size()) : 0;
}

Gesture GestureList::operator[](std::int32_t index) const {
    if (index < 0 || index >= count()) {
        return Gesture();
    }
    return (*m_gestures)[static_cast<std::size_t>(index)];
}

// ---------------------------------------------------------------------------------------------
// Gestures

Gesture::Gesture() = default;

Gesture::Gesture(std::shared_ptr<const FrameRecord> frame, int index)
    : m_frame(std::move(frame)), m_index(index) {}

bool Gesture::isValid() const {
    return m_frame != nullptr;
}

Gesture::Type Gesture::type() const {
    return m_frame ? static_cast<Type>(m_frame->gestures[m_index].type) : Invalid;
}

Gesture::State Gesture::state() const {
    return m_frame ? static_cast<State>(m_frame->gestures[m_index].state) : StateInvalid;
}

std::int32_t Gesture::id() const {
    return m_frame ? m_frame->gestures[m_index].id : 0;
}

std::int64_t Gesture::duration() const {
    return m_frame ? m_frame->gestures[m_index].duration : 0;
}

float Gesture::durationSeconds() const {
    return static_cast<float>(duration()) * 1e-6f;
}

std::int64_t Gesture::frameId() const {
    return m_frame ? m_frame->id : 0;
}

std::int32_t Gesture::handId() const {
    return m_frame ? m_frame->gestures[m_index].handId : 0;
}

std::int32_t Gesture::pointableId() const {
    return m_frame ? m_frame->gestures[m_index].pointableId : 0;
}

bool Gesture::operator==(const Gesture& other) const {
    if (!m_frame || !other.m_frame) {
        return false;
    }
    return m_frame->id == other.m_frame->id &&
           m_frame->gestures[m_index] == other.m_frame->gestures[other.m_index];
}

namespace {

// A view keeps the gesture only when it has the view's type.
Gesture viewOf(const Gesture& g, Gesture::Type type) {
    return g.type() == type ? g : Gesture();
}

}  // namespace

SwipeGesture::SwipeGesture(const Gesture& g) : Gesture(viewOf(g, Swipe)) {}
Vector SwipeGesture::startPosition() const {
    return m_frame ? m_frame->gestures[m_index].startPosition : Vector{};
}
Vector SwipeGesture::position() const {
    return m_frame ? m_frame->gestures[m_index].position : Vector{};
}
Vector SwipeGesture::direction() const {
    return m_frame ? m_frame->gestures[m_index].direction : Vector{};
}
float SwipeGesture::speed() const {
    return m_frame ? m_frame->gestures[m_index].speed : 0.0f;
}

CircleGesture::CircleGesture(const Gesture& g) : Gesture(viewOf(g, Circle)) {}
Vector CircleGesture::center() const {
    return m_frame ? m_frame->gestures[m_index].center : Vector{};
}
Vector CircleGesture::normal() const {
    return m_frame ? m_frame->gestures[m_index].normal : Vector{};
}
float CircleGesture::radius() const {
    return m_frame ? m_frame->gestures[m_index].radius : 0.0f;
}
float CircleGesture::progress() const {
    return m_frame ? m_frame->gestures[m_index].progress : 0.0f;
}

ScreenTapGesture::ScreenTapGesture(const Gesture& g) : Gesture(viewOf(g, ScreenTap)) {}
Vector ScreenTapGesture::position() const {
    return m_frame ? m_frame->gestures[m_index].position : Vector{};
}
Vector ScreenTapGesture::direction() const {
    return m_frame ? m_frame->gestures[m_index].direction : Vector{};
}

KeyTapGesture::KeyTapGesture(const Gesture& g) : Gesture(viewOf(g, KeyTap)) {}
Vector KeyTapGesture::position() const {
    return m_frame ? m_frame->gestures[m_index].position : Vector{};
}
Vector KeyTapGesture::direction() const {
    return m_frame ? m_frame->gestures[m_index].direction : Vector{};
}

}  // namespace Kivo
