#include "device/KivoManager.h"

namespace kivo_rova {

KivoManager::KivoManager(RPxThreadedDeviceNode* owner)
    : listening(false), disconnected(false), wasLive(false), controller(), node(owner) {
    attach();
}

KivoManager::~KivoManager() {
    if (listening) {
        detach();
    }
}

bool KivoManager::attach() {
    if (listening) {
        return false;
    }
    controller.addListener(*this);
    listening = true;
    return true;
}

void KivoManager::detach() {
    if (!listening) {
        return;
    }
    controller.removeListener(*this);
    node = nullptr;
    listening = false;
}

void KivoManager::queue(const char* command) {
    // Display off; a command that fails later is reported by the host when it runs it.
    RGlobal::executeCommandOnIdle(command, false);
}

void KivoManager::handleConnect(const Kivo::Controller&) {
    if (!disconnected) {
        return;
    }
    queue(kConnectNotice);
    if (wasLive) {
        queue(kEnableCommand);
    }
    disconnected = false;
}

void KivoManager::handleDisconnect(const Kivo::Controller&) {
    if (disconnected) {
        return;
    }
    queue(kDisconnectNotice);
    disconnected = true;
    wasLive = node != nullptr && node->isLive();
    if (wasLive) {
        queue(kDisableCommand);
    }
}

}  // namespace kivo_rova
