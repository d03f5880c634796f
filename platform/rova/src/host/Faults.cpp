// Fault injection: arming host API calls to fail, and the failure they report.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <iostream>

#include "HostImpl.h"
#include "HostText.h"
#include "host/Faults.h"
#include "rova/RGlobal.h"

namespace rova::detail {

std::atomic<std::size_t> armedFaultCount{0};

bool faultArmed(host::FaultPoint point, const std::string& subject) {
    auto& host = hostImpl();
    if (armedFaultCount.load(std::memory_order_relaxed) == 0)
        return false;
    std::lock_guard<std::mutex> lock(host.faultMutex);
    for (auto it = host.faults.begin(); it != host.faults.end(); ++it) {
        if (it->point != point || subject.find(it->match) == std::string::npos)
            continue;
        if (it->times > 0 && --it->times == 0) {
            host.faults.erase(it);
            armedFaultCount.store(host.faults.size(), std::memory_order_relaxed);
        }
        return true;
    }
    return false;
}

std::string setupSubject(const std::string& attribute) {
    const auto& initializing = hostImpl().typeInInitialization;
    return initializing.empty() ? attribute : initializing.back()->name + "." + attribute;
}

RStatus injectedFailure(host::FaultPoint point, const std::string& subject) {
    return RStatus(RStatus::kFailure, std::string(host::faultPointName(point)) + " failed for '" +
                                          subject + "' (injected fault)");
}
}  // namespace rova::detail

namespace rova::host {

// ---------------------------------------------------------------- faults and observers
std::vector<std::string> Host::faultCalls() const {
    std::vector<std::string> names;
    for (const auto& row : kFaultPoints) names.emplace_back(row.name);
    return names;
}

Status Host::armFault(const std::string& call, const std::string& match, int times) {
    const auto point = faultPointNamed(call);
    if (!point)
        return Status::failure("unknown fault call '" + call +
                               "' (known: " + joinNames(faultCalls()) + ")");
    if (times == 0 || times < -1)
        return Status::failure("fault count must be a positive number or -1, not " +
                               std::to_string(times));
    std::lock_guard<std::mutex> lock(m_impl->faultMutex);
    m_impl->faults.push_back(Impl::Fault{*point, match, times});
    detail::armedFaultCount.store(m_impl->faults.size(), std::memory_order_relaxed);
    return Status{};
}

void Host::clearFaults() {
    std::lock_guard<std::mutex> lock(m_impl->faultMutex);
    m_impl->faults.clear();
    detail::armedFaultCount.store(0, std::memory_order_relaxed);
}

}  // namespace rova::host
