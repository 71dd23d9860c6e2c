#pragma once
// The small modal boxes around the main window: the four notices that end a
// run and the About box. They decide nothing: OK, Enter, Escape, Alt+F4 and
// the close box all just end them.

#include "download/RunObserver.h"
#include "win32/WinApi.h"

namespace veltrad {

// The template that shows `notice`.
int NoticeTemplate(Notice notice);

// Runs template `templateId` modally, centred on `owner`; returns when the
// operator has dismissed it.
void RunModalBox(HINSTANCE instance, int templateId, HWND owner);

}  // namespace veltrad
