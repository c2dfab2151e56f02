// Framing and packet actions: what a stream puts in the log and the file.
#include "harness.h"

#include <gtest/gtest.h>

using namespace t;

namespace {

constexpr int H = 0x00, T = 0x01, K = 0x10, D = 0x20;

std::string hdr(std::size_t n, int c) { return logline("HEADER", n, c); }
std::string trl(std::size_t n, int c) { return logline("TRAILER", n, c); }
std::string key(std::size_t n, int c) { return logline("KEY IN", n, c); }
std::string dat(std::size_t n, int c) { return logline("DATA", n, c); }

struct capture_case {
	const char *name;
	bytes in;
	std::string log;  // with -v
	bytes file;
};

const bytes big = random_bytes(767, 1) + rep(10, 0xF0);  // 0xF0 at its end
const bytes p767 = big.substr(10);

const capture_case capture_cases[] = {
	{"empty_input", "", "", ""},
	{"data_then_end", pkt(D, "ab", 1), dat(2, 1), "ab"},
	{"first_data_expects_check_1", pkt(D, "ab", 0), dat(2, 0) + oos(1, 0), "ab"},
	{"check_wraps_255_to_0", pkt(H, "", 255) + pkt(D, "x", 0), hdr(0, 255) + dat(1, 0), "x"},
	{"key_in_carries_sequence", pkt(H, "", 0) + pkt(D, "a", 1) + pkt(K, "k", 2) + pkt(D, "b", 3),
		hdr(0, 0) + dat(1, 1) + key(1, 2) + dat(1, 3), "ab"},
	{"out_of_sequence_still_written", pkt(D, "a", 1) + pkt(D, "b", 5) + pkt(D, "c", 6),
		dat(1, 1) + dat(1, 5) + oos(2, 5) + dat(1, 6), "abc"},
	{"header_reports_full_length", pkt(H, rep(700, 'h'), 0), hdr(700, 0), ""},
	{"zero_length_data", pkt(D, "", 1) + pkt(D, "z", 3), dat(0, 1) + dat(1, 3) + oos(2, 3), "z"},
	{"trailer_closes_file_for_good",
		pkt(H, "", 0) + pkt(D, "ab", 1) + pkt(T, "", 2) + pkt(D, "cd", 3) + pkt(D, "ef", 9) + pkt(T, "", 10),
		hdr(0, 0) + dat(2, 1) + trl(0, 2) + dat(2, 3) + dat(2, 9) + oos(4, 9) + trl(0, 10), "ab"},
	{"trailer_out_of_sequence", pkt(T, "tt", 7) + pkt(D, "x", 8), trl(2, 7) + oos(1, 7) + dat(1, 8), ""},
	{"start_byte_as_type_is_skipped", raw({0xF0, 0xF0, 0x20, 0x00, 0x07, 0xAA, 0xBB, 0x05, 0xF0}),
		dat(2, 5) + oos(1, 5), raw({0xAA, 0xBB})},
	{"type_51_is_skipped", raw({0xF0, 0x33, 0x20, 0x00, 0x06, 'x', 0x01}), dat(1, 1), "x"},
	{"types_above_50_after_start", raw({0xF0, 0xFF, 0x80, 0xF0, 0x33, 0x20, 0x00, 0x06, 'y', 0x01}),
		dat(1, 1), "y"},
	{"longest_payload", pkt(D, p767, 1), dat(767, 1), p767},
	{"length_773_rejected", raw({0xF0, 0x20, 0x03, 0x05}) + rep(773, 'j') + pkt(D, "ok", 1), dat(2, 1),
		"ok"},
	{"length_4_rejected", raw({0xF0, 0x20, 0x00, 0x04, 'a', 'b', 'c'}) + pkt(D, "ok", 1), dat(2, 1), "ok"},
	{"length_0_rejected", raw({0xF0, 0x20, 0x00, 0x00, 'a'}) + pkt(D, "ok", 1), dat(2, 1), "ok"},
	{"length_ffff_rejected", raw({0xF0, 0x20, 0xFF, 0xFF, 'a'}) + pkt(D, "ok", 1), dat(2, 1), "ok"},
	{"rejected_low_byte_f0_starts_frame", raw({0xF0, 0x20, 0xF0, 0xF0, 0x20, 0x00, 0x06, 'z', 0x01}),
		dat(1, 1), "z"},
	{"rejected_high_byte_f0_starts_nothing", raw({0xF0, 0x20, 0xF0, 0x20, 0x00, 0x06, 'q', 0x01}), "", ""},
	{"bytes_after_rejected_length_are_searched",
		raw({0xF0, 0x20, 0x00, 0x01}) + pkt(D, "k", 1), dat(1, 1), "k"},
	{"junk_between_packets", "junk" + pkt(H, "", 0) + "\x01\x02 more" + pkt(D, "d", 1) + "tail",
		hdr(0, 0) + dat(1, 1), "d"},
	{"f0_in_payload_and_check", pkt(H, "", 0xEF) + pkt(D, raw({0xF0, 'a', 0xF0}), 0xF0) + pkt(D, "b", 0xF1),
		hdr(0, 0xEF) + dat(3, 0xF0) + dat(1, 0xF1), raw({0xF0, 'a', 0xF0, 'b'})},
	{"ignored_types_are_consumed_whole",
		pkt(H, "", 0) + pkt(2, pkt(D, "evil", 1), 1) + pkt(50, "x", 2) + pkt(D, "ok", 3),
		hdr(0, 0) + dat(2, 3), "ok"},
	{"unfinished_packet_has_no_effect", pkt(H, "", 0) + raw({0xF0, 0x20, 0x00, 0x09, 'a', 'b'}),
		hdr(0, 0), ""},
	{"cut_before_check_byte", pkt(D, "a", 1) + raw({0xF0, 0x20, 0x00, 0x06, 'b'}), dat(1, 1), "a"},
	{"payload_straddles_block", rep(9995, 'j') + pkt(D, p767, 1) + pkt(D, "e", 2), dat(767, 1) + dat(1, 2),
		p767 + "e"},
	{"frame_header_straddles_block", rep(9998, 'j') + pkt(D, "abc", 1), dat(3, 1), "abc"},
	{"many_packets", [] {
		 bytes s;
		 for (int i = 0; i < 300; i++)
			 s += pkt(D, rep(100, 'a' + i % 26), (i + 1) & 0xFF);
		 return s;
	 }(),
		[] {
			std::string s;
			for (int i = 0; i < 300; i++)
				s += dat(100, (i + 1) & 0xFF);
			return s;
		}(),
		[] {
			bytes s;
			for (int i = 0; i < 300; i++)
				s += rep(100, 'a' + i % 26);
			return s;
		}()},
};

void PrintTo(const capture_case &c, std::ostream *os)
{
	*os << c.name;
}

class capture : public testing::TestWithParam<capture_case> {};

TEST_P(capture, logs_and_writes)
{
	const capture_case &c = GetParam();
	tmpdir dir;
	result r = run({framecap, "-v", "out"}, c.in, dir.path);
	EXPECT_EQ(r.code, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.out, c.log);
	EXPECT_EQ(slurp(dir / "out"), c.file);
}

// Without -v nothing at all is printed; the file is the same.
TEST_P(capture, quiet_without_v)
{
	const capture_case &c = GetParam();
	tmpdir dir;
	result r = run({framecap, "out"}, c.in, dir.path);
	EXPECT_EQ(r.code, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(slurp(dir / "out"), c.file);
}

INSTANTIATE_TEST_SUITE_P(table, capture, testing::ValuesIn(capture_cases),
	[](const testing::TestParamInfo<capture_case> &i) { return std::string(i.param.name); });

}  // namespace
