// The ring buffer that carries up to ten gestures of one type from the data thread to compute.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "tracking/GestureQueue.h"

namespace {

using Queue = kivo_rova::GestureQueue<int>;

// Empties the queue, oldest first.
std::vector<int> drain(Queue& queue) {
    std::vector<int> out;
    while (!queue.empty()) {
        out.push_back(queue.front());
        queue.pop();
    }
    return out;
}

// What each push answers, then what the queue yields.
struct Case {
    const char* name;
    std::vector<int> pushes;  // values pushed in order
    int popsBetween;          // pops after the first ten pushes, before the rest
    std::vector<bool> answers;
    std::vector<int> kept;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

class GestureQueueCase : public ::testing::TestWithParam<Case> {};

TEST_P(GestureQueueCase, PushesAndKeeps) {
    const Case& c = GetParam();
    Queue queue;
    std::vector<bool> answers;
    for (std::size_t k = 0; k < c.pushes.size(); ++k) {
        if (k == 10) {
            for (int pop = 0; pop < c.popsBetween; ++pop) {
                queue.pop();
            }
        }
        answers.push_back(queue.push(c.pushes[k]));
    }
    EXPECT_EQ(answers, c.answers);
    EXPECT_EQ(queue.count(), c.kept.size());
    EXPECT_EQ(drain(queue), c.kept);
}

const std::vector<bool> kTenYes(10, true);

std::vector<bool> answers(std::vector<bool> head, std::vector<bool> tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

std::string caseName(const ::testing::TestParamInfo<Case>& c) {
    return c.param.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, GestureQueueCase,
    ::testing::Values(
        Case{"ThreeInOrder", {1, 2, 3}, 0, {true, true, true}, {1, 2, 3}},
        Case{
            "TenFit", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 0, kTenYes, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
        // A full queue refuses the eleventh and twelfth and keeps the first ten.
        Case{"FullRefuses",
             {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
             0,
             answers(kTenYes, {false, false}),
             {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
        // Room made by pops is reused past the end of the slots, oldest first still.
        Case{"WrapsAround",
             {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13},
             3,
             answers(kTenYes, {true, true, true}),
             {4, 5, 6, 7, 8, 9, 10, 11, 12, 13}}),
    caseName);

std::string emptyError(void (*use)(Queue&), Queue queue) {
    try {
        use(queue);
    } catch (const std::out_of_range& error) {
        return error.what();
    }
    return "no exception";
}

TEST(GestureQueue, EmptyQueueRaisesOnFrontAndPop) {
    const auto front = [](Queue& q) { static_cast<void>(q.front()); };
    const auto pop = [](Queue& q) { q.pop(); };
    Queue cleared;
    for (int value = 0; value < 10; ++value) {
        ASSERT_TRUE(cleared.push(value));
    }
    cleared.clear();
    for (const Queue& queue : {Queue{}, cleared}) {
        EXPECT_EQ(emptyError(front, queue), "Queue is empty");
        EXPECT_EQ(emptyError(pop, queue), "Queue is empty");
    }
    // A cleared queue starts over as a new one.
    EXPECT_TRUE(cleared.push(42));
    EXPECT_EQ(drain(cleared), std::vector<int>{42});
}

TEST(GestureQueue, CopiesAreIndependent) {
    Queue queue;
    for (int value = 1; value <= 4; ++value) {
        ASSERT_TRUE(queue.push(value));
    }
    queue.pop();
    Queue copy = queue;
    queue.pop();
    EXPECT_EQ(drain(copy), (std::vector<int>{2, 3, 4}));
    EXPECT_EQ(drain(queue), (std::vector<int>{3, 4}));
}

}  // namespace
