// input.cpp: standard input, handed out a byte at a time from blocks.
#include "packet.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

unsigned char data[blk];
std::int32_t size;
std::int32_t offset;

namespace {

// Read what standard input has now, without waiting: -1 with EAGAIN when
// there is nothing yet. Where the system can say so in the read itself, that
// is one call instead of a poll and a read.
ssize_t take()
{
	static const bool file = [] {
		struct stat st;
		return fstat(0, &st) == 0 && S_ISREG(st.st_mode);
	}();
	if (file)  // never makes us wait
		return read(0, data, blk);
#ifdef RWF_NOWAIT
	static bool nowait = true;
	if (nowait) {
		iovec v = {data, blk};
		ssize_t n = preadv2(0, &v, 1, -1, RWF_NOWAIT);
		if (n >= 0 || (errno != EOPNOTSUPP && errno != EINVAL && errno != ENOSYS))
			return n;
		nowait = false;  // not for this kind of input
	}
#endif
	pollfd p = {0, POLLIN, 0};
	if (poll(&p, 1, 0) == 0) {
		errno = EAGAIN;
		return -1;
	}
	return read(0, data, blk);
}

// Wait for standard input to have something to say, or for a signal that
// ends the run. Signals are held off between our look at the flag and the
// wait, so none can slip in there and leave us asleep.
void await()
{
	sigset_t all, old;
	sigfillset(&all);
	sigprocmask(SIG_BLOCK, &all, &old);
	if (!caught) {
		fd_set in;
		FD_ZERO(&in);
		FD_SET(0, &in);
		pselect(1, &in, nullptr, nullptr, nullptr, &old);
	}
	sigprocmask(SIG_SETMASK, &old, nullptr);
}

}  // namespace

// Serve whatever a read returns: bytes are handed on as they arrive, not
// when a whole block has come.
void rd_fill()
{
	for (;;) {
		if (caught)
			end_by_signal();
		ssize_t n = take();
		if (n > 0) {
			size = static_cast<std::int32_t>(n);
			offset = 0;
			return;
		}
		if (n == 0)
			quit();
		if (errno == EAGAIN || errno == EWOULDBLOCK) {
			flush();  // what came so far is in the file and the log
			await();
		} else if (errno != EINTR) {
			warn("standard input", errno);
			quit();
		}
	}
}

void rd_seek(unsigned char b)
{
	for (;;) {
		if (offset >= size)
			rd_fill();
		const void *p = std::memchr(data + offset, b, static_cast<std::size_t>(size - offset));
		if (p) {
			offset = static_cast<std::int32_t>(static_cast<const unsigned char *>(p) - data) + 1;
			return;
		}
		offset = size;
	}
}

void rd_copy(unsigned char *dst, int n)
{
	while (n > 0) {
		if (offset >= size)
			rd_fill();
		int k = std::min(n, size - offset);
		copy(dst, data + offset, static_cast<std::size_t>(k));
		dst += k;
		offset += k;
		n -= k;
	}
}
