#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <optional>

class OutsideHelper;
class QSocketNotifier;

// A file chooser outside the program's confinement (an OutsideHelper), so that the user's
// choice reaches any file while the program reaches only its own. The program can only ask
// it to let the user choose; it answers with an open, read-only descriptor of the regular
// file chosen, or with nothing. It never opens a path that the program names, so a confined
// program cannot read through it what the user did not choose.
class OutsideFileChooser
{
public:
    // Runs in the helper for each request: lets the user choose and returns the chosen
    // file's path, nothing when the user cancels.
    using Choose = std::function<std::optional<QString>()>;

    // Starts the helper; see OutsideHelper::start. Null when it cannot be started.
    static std::unique_ptr<OutsideFileChooser> start(Choose choose);
    ~OutsideFileChooser();

    // Asks the helper to let the user choose; the event loop goes on meanwhile. `chosen` gets
    // the descriptor, which it then owns, unless the user cancels. While a choice is being
    // made, a second request is ignored: the chooser is already on screen.
    void choose(std::function<void(int descriptor)> chosen);
    bool isChoosing() const { return bool(m_chosen); }

private:
    explicit OutsideFileChooser(std::unique_ptr<OutsideHelper> helper);
    void receiveAnswer();

    std::unique_ptr<OutsideHelper> m_helper;
    std::unique_ptr<QSocketNotifier> m_answer;
    std::function<void(int)> m_chosen;
};
