// The command line: which options are taken and where the file goes.
#include "harness.h"

#include <gtest/gtest.h>

using namespace t;

namespace {

struct cli_case {
	std::vector<std::string> args;
	bool verbose;
	const char *file;  // relative to the working directory; nullptr: none
};

// Options end at the first argument that is not one; the name after them is
// the file, taken as given or below the -p directory.
const cli_case cli_cases[] = {
	{{}, false, nullptr},
	{{"out.bin"}, false, "out.bin"},
	{{"-p", "dir", "out.bin"}, false, "dir/out.bin"},
	{{"-v", "-p", "d", "f"}, true, "d/f"},
	{{"-p", "d", "-v", "f"}, true, "d/f"},
	{{"-p"}, false, "-p"},
	{{"-v"}, true, nullptr},
	{{"-x", "f"}, false, "-x"},
	{{"f", "-v"}, false, "f"},
	{{"-p", "a", "-p", "b", "f"}, false, "b/f"},
	{{"-p", "-v", "f"}, false, "-v/f"},
	{{"-p", "d"}, false, nullptr},
	{{"-v", "-v", "f"}, true, "f"},
	{{"-v", "-p"}, true, "-p"},
	{{"-p", "d", "-p"}, false, "d/-p"},
	{{"-vp", "f"}, false, "-vp"},
	{{"-p", "d/", "f"}, false, "d/f"},  // opened as d//f
	{{"-p", "", "f"}, false, "f"},
};

void PrintTo(const cli_case &c, std::ostream *os)
{
	*os << "framecap";
	for (auto &a : c.args)
		*os << " '" << a << "'";
}

class cli : public testing::TestWithParam<cli_case> {};

TEST_P(cli, takes_options_and_places_file)
{
	const cli_case &c = GetParam();
	tmpdir dir;
	for (const char *d : {"dir", "d", "a", "b", "-v"})
		ASSERT_EQ(mkdir((dir / d).c_str(), 0777), 0);
	std::vector<std::string> args = {framecap};
	args.insert(args.end(), c.args.begin(), c.args.end());

	result r = run(args, pkt(0x20, "hi", 1), dir.path);

	EXPECT_EQ(r.code, 0) << r.err;
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.out, c.verbose ? logline("DATA", 2, 1) : "");
	std::vector<std::string> want;
	if (c.file)
		want.push_back(c.file);
	ASSERT_EQ(files(dir.path), want);
	if (c.file) {
		EXPECT_EQ(slurp(dir / c.file), "hi");
	}
}

INSTANTIATE_TEST_SUITE_P(table, cli, testing::ValuesIn(cli_cases));

TEST(cli, help_and_version_only_as_first_argument)
{
	tmpdir dir;
	result help = run({framecap, "--help"}, "", dir.path);
	EXPECT_EQ(help.code, 0);
	EXPECT_NE(help.out.find("usage: framecap"), std::string::npos);
	EXPECT_EQ(files(dir.path), std::vector<std::string>{});

	result version = run({framecap, "--version"}, "", dir.path);
	EXPECT_EQ(version.code, 0);
	EXPECT_EQ(version.out.rfind("framecap ", 0), 0u) << version.out;

	// Later, it is an ordinary name.
	result later = run({framecap, "-v", "--help"}, pkt(0x20, "x", 1), dir.path);
	EXPECT_EQ(later.code, 0);
	EXPECT_EQ(later.out, logline("DATA", 1, 1));
	EXPECT_EQ(slurp(dir / "--help"), "x");
}

TEST(cli, long_paths_are_neither_cut_nor_refused_by_us)
{
	tmpdir dir;
	// Three directories of 100 characters: a prefix of over 300.
	std::string prefix = dir.path;
	for (char c : {'a', 'b', 'c'}) {
		prefix += "/" + std::string(100, c);
		ASSERT_EQ(mkdir(prefix.c_str(), 0777), 0);
	}
	std::string name(200, 'n');
	result r = run({framecap, "-p", prefix, name}, pkt(0x20, "long", 1));
	EXPECT_EQ(r.code, 0) << r.err;
	EXPECT_EQ(slurp(prefix + "/" + name), "long");

	// A name the system will not take is an error, not a shorter name.
	tmpdir other;
	std::string huge(300, 'h');
	r = run({framecap, huge}, pkt(0x20, "x", 1), other.path);
	EXPECT_EQ(r.code, 1);
	EXPECT_EQ(r.err, "framecap: " + huge + ": File name too long\n");
	EXPECT_EQ(files(other.path), std::vector<std::string>{});
}

}  // namespace
