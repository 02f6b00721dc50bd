// What the core asks of the user interface: message boxes and letting pending
// window messages through. The wizard implements it on real windows, the
// tools on the console, unattended mode silently, tests with recordings.
#pragma once
#include <string>

namespace oup {

enum class TMsgKind { Error, Information };
enum class TMsgButtons { Ok, OkCancel };
enum class TMsgResult { Ok, Cancel };

class TUserInterface {
public:
    virtual ~TUserInterface() = default;
    // Lets all pending window messages be processed once, without waiting.
    virtual void ProcessMessages() = 0;
    virtual TMsgResult MessageBox(const std::string& text, const std::string& caption,
                                  TMsgKind kind, TMsgButtons buttons) = 0;
};

// For code that runs without a window: no messages to pump, and every box
// answered as given.
class TSilentUserInterface : public TUserInterface {
public:
    explicit TSilentUserInterface(TMsgResult answer = TMsgResult::Ok) : answer_(answer) {}
    void ProcessMessages() override {}
    TMsgResult MessageBox(const std::string&, const std::string&, TMsgKind, TMsgButtons) override {
        return answer_;
    }

private:
    TMsgResult answer_;
};

}  // namespace oup
