#include "DeviceChangeReports.h"

#include <kivo/DeviceService.h>

namespace rova::app {

DeviceChangeReports::DeviceChangeReports(host::Host& host) : m_host(host) {
    m_controller.addListener(*this);
    // From here on every change is reported: a change the listener has not heard of yet is one
    // it is about to report.
    m_host.setDataChangeReports(true);
}

DeviceChangeReports::~DeviceChangeReports() {
    m_host.setDataChangeReports(false);
    m_controller.removeListener(*this);
}

void DeviceChangeReports::report() const {
    const Kivo::ServiceStatus status = Kivo::DeviceService::status();
    const bool realTime =
        status.source == Kivo::ServiceStatus::Source::Replay && status.replayOptions.realtime;
    m_host.dataChanged(realTime);
}

}  // namespace rova::app
