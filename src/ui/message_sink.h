#pragma once
// How dialog logic shows a message: the application's own message box on the desktop, a
// recorder in the tests.
#include <string>

#include "mailbox/job_frontend.h"

namespace parvelle::ui {

using mailbox::MessageIcon;

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // Shows the message modally; returns 1 for "Yes", 0 for "No", -1 for "OK" or when the box
    // was closed otherwise.
    virtual int showMessage(const std::string& text, MessageIcon icon, bool okOnly) = 0;
};

} // namespace parvelle::ui
