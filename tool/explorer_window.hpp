#pragma once

// A run started from Windows' Explorer (a double-click, a file dropped on
// kestrave.exe or on a shortcut to it, Open with, the Run box) gets a console
// window of its own, which Windows closes the moment kestrave exits: the
// outcome would flash by unread. Such a run keeps its window open until a key
// is pressed. Every other run, and every run outside Windows, never waits.

namespace kestrave {

// True when Explorer started this process in a console of its own, with
// standard input, output and error all on that console. Asked before the run
// does anything else: the console is ours only while no other process has
// attached to it.
bool startedInWindowOfItsOwn();

// Asks on the console for a key and waits for one. Closing the window, or
// Ctrl+Break, ends the process with `status` as well. Returns at once when
// the console cannot be written or read.
void holdWindowOpen(int status);

}  // namespace kestrave
