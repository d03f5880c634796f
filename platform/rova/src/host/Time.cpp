// Scene time: the sceneTime node's output and the frame rate.
#include <algorithm>
#include <cmath>
#include <iostream>

#include "HostImpl.h"
#include "HostText.h"
#include "SceneChanges.h"
#include "rova/RGlobal.h"

namespace rova::host {

// ---------------------------------------------------------------- time
void Host::setTime(double seconds) {
    Impl& h = *m_impl;
    if (!h.timeNode)
        return;
    h.timeNode->values[0].d = seconds;
    h.timeNode->dirty[0] = 0;
    h.dirtyDependents(h.timeNode, 0);
}

double Host::time() const {
    return m_impl->timeNode ? m_impl->timeNode->values[0].d : 0.0;
}

void Host::setFps(double fps) {
    if (!(fps > 0.0 && std::isfinite(fps)) || fps == m_impl->framesPerSecond)
        return;
    m_impl->framesPerSecond = fps;
    detail::noteSceneChange();  // the same time is another frame now
}

double Host::fps() const {
    return m_impl->framesPerSecond;
}

}  // namespace rova::host
