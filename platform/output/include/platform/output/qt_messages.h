// Qt's messages (its warnings, and those of any library logging through it)
// as reports on standard error: through the queue that never blocks, in the
// timed format with their level and category, and bounded per category by
// a MessageFlood. Without this, Qt writes each with a blocking write to
// descriptor 2, and a stalled reader of standard error stops the event
// thread.
#pragma once

namespace quorvane {

// Installs the handler for the rest of the process; call first thing in
// main, before the application is made. Messages from other threads are
// handed to the event thread.
void InstallQtMessageHandler();

}  // namespace quorvane
