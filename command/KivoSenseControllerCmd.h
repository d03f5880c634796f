#pragma once
#include "device/DeviceApi.h"
#include "host/HostApi.h"

namespace kivo_rova {

// The host command "kivoSenseController": asks the device whether it is connected, whether this
// plug-in's connection has the focus, or for one floating-point configuration value.
//
//     kivoSenseController -connected     boolean result
//     kivoSenseController -focus         boolean result
//     kivoSenseController -config KEY    the key's float value, widened to a double
//     kivoSenseController -help          a description of the flags (the host's help shows it)
//
// The flag is matched without regard to case; words after -connected, -focus and -help are ignored.
// Every failure shows its message with RGlobal::displayError, sets no result and returns
// status code 1. The command changes nothing and cannot be undone.
class KivoSenseControllerCmd : public RPxCommand {
  public:
    KivoSenseControllerCmd() = default;
    ~KivoSenseControllerCmd() override;

    // Reads its words by position (the command is registered without a syntax function).
    RStatus runCommand(const RArgList& args) override;
    // Nothing to take back.
    RStatus undoCommand() override;
    // Always false: the host keeps no instance on its undo queue.
    bool canUndo() const override;
    // The flags and what each answers: what -help sets as the result.
    RString helpText() const override;

    // Reads the float stored under `key` into `value`. A key holding any other type (or none)
    // shows an "Invalid type" error, leaves `value` as it is and returns false.
    static bool getConfigFloat(const RString& key, float& value);

    static void* createInstance();

  private:
    // The command's own connection to the device, opened on first use and kept until the
    // library unloads; only the main thread uses it.
    static Kivo::Controller& sharedController();
};

}  // namespace kivo_rova
