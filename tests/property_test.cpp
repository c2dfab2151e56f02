// Generated hostile streams: framecap must agree with a plain byte-by-byte
// reading of the format, however the bytes arrive.
#include "harness.h"

#include <gtest/gtest.h>
#include <random>
#include <stdexcept>
#include <thread>
#include <unistd.h>

using namespace t;

namespace {

struct outcome {
	std::string log;
	bytes file;
};

// The format read one byte at a time, as simply as it can be said. A packet
// counts once its check byte is in; the stream may end anywhere.
outcome reference(const bytes &s)
{
	outcome o;
	std::size_t i = 0;
	auto next = [&] {
		if (i == s.size())
			throw std::out_of_range("end of input");
		return static_cast<int>(static_cast<unsigned char>(s[i++]));
	};
	int ch = 0, check = 0;
	bool open = true;
	try {
		for (;;) {
			while (ch != 0xF0)
				ch = next();
			int type = next();
			if (type > 50)
				continue;
			int hi = next();
			ch = next();
			int len = hi * 256 + ch - 5;
			if (len < 0 || len > 767)
				continue;
			bytes payload;
			for (int k = 0; k < len; k++)
				payload += static_cast<char>(next());
			int want = (check + 1) % 256;
			check = next();
			std::string seq = want == check ? "" : oos(want, check);
			switch (type) {
			case 0x00:
				o.log += logline("HEADER", payload.size(), check);
				break;
			case 0x01:
				o.log += logline("TRAILER", payload.size(), check) + seq;
				open = false;
				break;
			case 0x10:
				o.log += logline("KEY IN", payload.size(), check);
				break;
			case 0x20:
				o.log += logline("DATA", payload.size(), check) + seq;
				if (open)
					o.file += payload;
				break;
			}
			ch = next();
		}
	} catch (const std::out_of_range &) {
	}
	return o;
}

// A stream of good packets, junk, bad types and lengths, 0xF0 where it hurts,
// long runs across block boundaries, and cut packets.
bytes hostile(unsigned seed)
{
	std::mt19937 g(seed);
	auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(g); };
	auto byte = [&] {
		int r = pick(0, 9);
		return r < 3 ? 0xF0 : r < 6 ? pick(0, 50) : pick(0, 255);
	};
	auto junk = [&](int n) {
		bytes s;
		for (int k = 0; k < n; k++)
			s += static_cast<char>(byte());
		return s;
	};
	const int types[] = {0x00, 0x01, 0x10, 0x20, 0x20, 0x20, 0x20, 2, 50};
	int seq = 0;
	bytes s;
	for (int pieces = pick(1, 40); pieces > 0; pieces--) {
		int kind = pick(0, 9);
		if (kind < 5) {  // a packet, mostly in sequence
			int len = pick(0, 3) == 0 ? (pick(0, 1) ? 0 : 767) : pick(0, 767);
			int check = pick(0, 4) ? (seq + 1) & 0xFF : pick(0, 2) ? 0xF0 : pick(0, 255);
			seq = check;
			s += pkt(types[pick(0, 8)], junk(len), check);
		} else if (kind == 5) {
			s += junk(pick(0, 1) ? pick(0, 20) : pick(2000, 12000));
		} else if (kind == 6) {  // bad type bytes after a start byte
			s += raw({0xF0});
			for (int k = pick(1, 3); k > 0; k--)
				s += static_cast<char>(pick(0, 1) ? 0xF0 : pick(51, 255));
		} else if (kind == 7) {  // a length out of range, bytes enough behind it
			const int lens[] = {0, 4, 773, 0xFFFF, 0xF0F0, 0x00F0, 0xF020, pick(773, 1300)};
			int len = lens[pick(0, 7)];
			s += raw({0xF0, types[pick(0, 8)], len >> 8, len & 0xFF}) + junk(pick(0, 1300));
		} else {  // a packet cut short
			bytes p = pkt(0x20, junk(pick(0, 100)), (seq + 1) & 0xFF);
			s += p.substr(0, static_cast<std::size_t>(pick(1, static_cast<int>(p.size()) - 1)));
		}
	}
	return s;
}

std::size_t logged_data_before_trailer(const std::string &log)
{
	std::size_t sum = 0, at = 0;
	const std::string data = "DATA length: ";
	for (std::size_t nl; (nl = log.find('\n', at)) != std::string::npos; at = nl + 1) {
		std::string line = log.substr(at, nl - at);
		if (line.rfind("TRAILER", 0) == 0)
			break;
		if (line.rfind(data, 0) == 0)
			sum += std::stoul(line.substr(data.size()));
	}
	return sum;
}

// Deliver s through a pipe in random pieces, with short pauses now and then.
result trickled(const std::string &dir, const bytes &s, unsigned seed)
{
	proc p = start({framecap, "-v", "out"}, dir);
	int fd = p.in;
	p.in = -1;
	std::thread writer([fd, &s, seed] {
		std::mt19937 g(seed);
		for (std::size_t at = 0; at < s.size();) {
			std::size_t n = std::min<std::size_t>(s.size() - at, g() % 3000 + 1);
			put(fd, s.substr(at, n));
			at += n;
			if (g() % 4 == 0)
				usleep(g() % 2000);
		}
		close(fd);
	});
	result r = finish(p);
	writer.join();
	return r;
}

constexpr unsigned streams = 200;

TEST(property, agrees_with_reference_on_hostile_streams)
{
	for (unsigned seed = 1; seed <= streams; seed++) {
		SCOPED_TRACE("seed " + std::to_string(seed));
		bytes s = hostile(seed);
		outcome want = reference(s);
		tmpdir dir;
		result r = run({framecap, "-v", "out"}, s, dir.path);
		ASSERT_EQ(r.code, 0);
		ASSERT_EQ(r.err, "");
		ASSERT_EQ(r.out, want.log);
		ASSERT_EQ(slurp(dir / "out"), want.file);
		// Independent of the reference: the file is what the log says.
		ASSERT_EQ(want.file.size(), logged_data_before_trailer(r.out));
	}
}

TEST(property, arrival_in_pieces_changes_nothing)
{
	for (unsigned seed = 1; seed <= streams / 4; seed++) {
		SCOPED_TRACE("seed " + std::to_string(seed));
		bytes s = hostile(seed + 10000);
		tmpdir whole, pieces;
		result a = run({framecap, "-v", "out"}, s, whole.path);
		result b = trickled(pieces.path, s, seed);
		ASSERT_EQ(b.code, 0);
		ASSERT_EQ(b.err, "");
		ASSERT_EQ(b.out, a.out);
		ASSERT_EQ(slurp(pieces / "out"), slurp(whole / "out"));
	}
}

}  // namespace
