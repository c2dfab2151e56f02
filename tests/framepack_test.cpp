// framepack: streams that framecap takes back byte for byte, and its errors.
#include "harness.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

using namespace t;

namespace {

struct frame {
	int type;
	bytes payload;
	int check;
};

// Read the stream's packets back, insisting that nothing else is in it but
// the filler byte at its end.
std::vector<frame> packets(const bytes &s)
{
	std::vector<frame> v;
	std::size_t i = 0;
	auto at = [&](std::size_t k) { return static_cast<unsigned char>(s.at(k)); };
	while (s.size() - i > 1) {
		EXPECT_EQ(at(i), 0xF0) << "at " << i;
		std::size_t len = at(i + 2) * 256u + at(i + 3);
		EXPECT_GE(len, 5u);
		frame f{at(i + 1), s.substr(i + 4, len - 5), at(i + 4 + len - 5)};
		v.push_back(f);
		i += 4 + len - 5 + 1;
	}
	EXPECT_EQ(s.substr(i), bytes(1, '\0')) << "the stream ends in one filler byte";
	return v;
}

// The shape a stream of content in packets of size must have.
void check_shape(const bytes &stream, const bytes &content, std::size_t size)
{
	std::vector<frame> v = packets(stream);
	ASSERT_GE(v.size(), 2u);
	EXPECT_EQ(v.front().type, 0x00);
	EXPECT_EQ(v.front().payload, "");
	EXPECT_EQ(v.back().type, 0x01);
	EXPECT_EQ(v.back().payload, "");
	bytes joined;
	for (std::size_t k = 0; k < v.size(); k++) {
		EXPECT_EQ(v[k].check, static_cast<int>(k % 256)) << "packet " << k;
		if (k == 0 || k == v.size() - 1)
			continue;
		EXPECT_EQ(v[k].type, 0x20);
		std::size_t want = k + 2 < v.size() ? size : content.size() - joined.size();
		EXPECT_EQ(v[k].payload.size(), want) << "packet " << k;
		EXPECT_GT(v[k].payload.size(), 0u);
		joined += v[k].payload;
	}
	EXPECT_EQ(joined, content);
	EXPECT_EQ(v.size() - 2, (content.size() + size - 1) / size);
}

struct trip {
	std::size_t length;
	std::size_t size;  // 0: the default
	bool from_stdin;
};

void PrintTo(const trip &c, std::ostream *os)
{
	*os << c.length << " bytes, -s " << c.size << (c.from_stdin ? ", standard input" : "");
}

class round_trip : public testing::TestWithParam<trip> {};

TEST_P(round_trip, framecap_takes_back_every_byte)
{
	const trip &c = GetParam();
	tmpdir dir;
	bytes content = random_bytes(c.length, static_cast<unsigned>(c.length + c.size));
	spew(dir / "in", content);

	std::vector<std::string> args = {framepack};
	if (c.size)
		args.insert(args.end(), {"-s", std::to_string(c.size)});
	if (!c.from_stdin)
		args.push_back(dir / "in");
	result pack = run(args, c.from_stdin ? content : "");
	ASSERT_EQ(pack.code, 0) << pack.err;
	EXPECT_EQ(pack.err, "");
	check_shape(pack.out, content, c.size ? c.size : 767);

	result cap = run({framecap, "-v", "out"}, pack.out, dir.path);
	EXPECT_EQ(cap.code, 0);
	EXPECT_EQ(cap.out.find("OUT OF SEQUENCE"), std::string::npos);
	EXPECT_EQ(slurp(dir / "out"), content);
}

std::vector<trip> trips()
{
	std::vector<trip> v;
	for (std::size_t length : {0, 1, 766, 767, 768, 10000, 1 << 20})
		for (std::size_t size : {0, 1, 16})
			v.push_back({length, size, false});
	for (std::size_t length : {0, 768, 1 << 20})
		v.push_back({length, 0, true});
	v.push_back({10921, 1, false});  // the TRAILER ends framepack's buffer exactly
	return v;
}

INSTANTIATE_TEST_SUITE_P(sizes, round_trip, testing::ValuesIn(trips()));

TEST(framepack, dash_is_standard_input)
{
	result r = run({framepack, "-s", "2", "-"}, "abc");
	EXPECT_EQ(r.code, 0);
	check_shape(r.out, "abc", 2);
}

TEST(framepack, bad_usage_is_status_2)
{
	for (std::vector<std::string> args : std::vector<std::vector<std::string>>{{"-s", "0"}, {"-s", "768"},
		     {"-s", "abc"}, {"-s", ""}, {"-s", "1x"}, {"-s", "-1"}, {"-s", "99999999999"}, {"-s"}, {"-q"},
		     {"a", "b"}}) {
		args.insert(args.begin(), framepack);
		result r = run(args, "data");
		EXPECT_EQ(r.code, 2) << args[1];
		EXPECT_EQ(r.out, "");
		EXPECT_EQ(r.err.rfind("framepack: ", 0), 0u) << r.err;
		EXPECT_NE(r.err.find("usage: framepack"), std::string::npos);
	}
}

TEST(framepack, help_and_version)
{
	result r = run({framepack, "--help"}, "");
	EXPECT_EQ(r.code, 0);
	EXPECT_EQ(r.out.rfind("usage: framepack", 0), 0u);
	r = run({framepack, "--version"}, "");
	EXPECT_EQ(r.code, 0);
	EXPECT_EQ(r.out.rfind("framepack ", 0), 0u);
}

TEST(framepack, unreadable_file)
{
	tmpdir dir;
	result r = run({framepack, dir / "missing"}, "");
	EXPECT_EQ(r.code, 1);
	EXPECT_EQ(r.err, "framepack: " + (dir / "missing") + ": No such file or directory\n");
	EXPECT_EQ(r.out, "");

	r = run({framepack, dir.path}, "");
	EXPECT_EQ(r.code, 1);
	EXPECT_EQ(r.err, "framepack: " + dir.path + ": Is a directory\n");
}

TEST(framepack, failed_write_is_an_error)
{
	int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
	ASSERT_GE(full, 0);
	proc p = start({framepack}, ".", -1, full);
	close(full);
	result r = finish(p, "x");
	EXPECT_EQ(r.code, 1);
	EXPECT_EQ(r.err, "framepack: standard output: No space left on device\n");
}

TEST(framepack, reader_gone_ends_it_quietly)
{
	proc p = start({framepack});
	close(p.out);
	p.out = -1;
	result r = finish(p, random_bytes(1 << 20, 7));
	EXPECT_EQ(r.err, "");
	EXPECT_TRUE(r.sig == SIGPIPE || r.code == 1) << r.code << " " << r.sig;
}

TEST(framepack, refuses_a_terminal)
{
	int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
	ASSERT_GE(master, 0);
	ASSERT_EQ(grantpt(master), 0);
	ASSERT_EQ(unlockpt(master), 0);
	int tty = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
	ASSERT_GE(tty, 0);
	proc p = start({framepack}, ".", -1, tty);
	close(tty);
	result r = finish(p, "data");
	EXPECT_EQ(r.code, 1);
	EXPECT_NE(r.err.find("terminal"), std::string::npos) << r.err;
	fcntl(master, F_SETFL, O_NONBLOCK);
	char c;
	EXPECT_LE(read(master, &c, 1), 0) << "nothing reaches the terminal";
	close(master);
}

}  // namespace
