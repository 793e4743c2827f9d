#pragma once

#include <functional>

// Work shared by the calling thread and one helper thread. When it returns both parts
// have ended, whatever happened: an exception of either part (a std::bad_alloc) is
// passed on only then, the caller's first, so that no thread is left working on
// buffers that go away and no exception ends the program from a thread of its own.
// When the system refuses the thread, the helper's part runs on the calling thread
// after the caller's, with a log line: the work is done, only slower.
namespace XafsHelperThread {

void share(const std::function<void()> &helper, const std::function<void()> &here);

// Every helper thread refused from now on, as a system out of threads refuses them
// (for tests); false gives them back.
void setRefusing(bool refuse);

} // namespace XafsHelperThread
