// The logon task that starts Quillon with the user's session (autostart.cpp):
// its name and its definition in the Task Scheduler's XML schema, as plain
// text functions. Texts are UTF-8; the backend converts them for COM.
#pragma once

#include <string>

namespace quillon::platform::win32 {

// "Quillon (NAME)": one task per user. A character that a task name cannot
// hold (\ / : * ? " < > |, control characters) becomes '_'.
std::string AutostartTaskName(const std::string& userName);

// The task: when `userId` (a SID or DOMAIN\name) logs on, run `program`
// (a full path; written quoted) in its own folder, as that user with the
// interactive token and the user's highest rights, so that an administrator
// gets no elevation prompt; no time limit, also on battery, one instance.
// Texts are escaped for XML.
std::string AutostartTaskXml(const std::string& program, const std::string& userId);

}  // namespace quillon::platform::win32
