// framecap-bench: how close framecap comes to copying its input.
//
// Each row times framecap against a plain copy of the same stream, in turns
// (A B A B ...), and reports the median of the per-pair time ratios with
// their min and max. Streams are made with framepack under <build>/bench and
// removed at the end.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

std::string dir;
constexpr int warmup = 1, pairs = 9;

struct run_result {
	double secs;
	long rss_kib;
};

[[noreturn]] void die(const std::string &what)
{
	std::fprintf(stderr, "framecap-bench: %s\n", what.c_str());
	std::exit(1);
}

// Run a shell command; its wall time and the peak resident size of the
// largest process it waited for.
run_result sh(const std::string &cmd)
{
	auto t0 = std::chrono::steady_clock::now();
	pid_t pid = fork();
	if (pid < 0)
		die("fork");
	if (pid == 0) {
		execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char *>(nullptr));
		_exit(127);
	}
	int st;
	rusage ru;
	if (wait4(pid, &st, 0, &ru) != pid)
		die("wait4");
	auto t1 = std::chrono::steady_clock::now();
	if (!WIFEXITED(st) || WEXITSTATUS(st) != 0)
		die("failed: " + cmd);
	return {std::chrono::duration<double>(t1 - t0).count(), ru.ru_maxrss};
}

void rm(const std::string &path)
{
	unlink(path.c_str());
}

// A file of n random bytes, packed into a stream with -s size.
std::string make_stream(const std::string &name, std::size_t n, int size)
{
	std::string stream = dir + "/" + name + ".stream";
	struct stat st;
	if (stat(stream.c_str(), &st) == 0)
		return stream;
	std::string raw = dir + "/" + name + ".raw";
	FILE *f = std::fopen(raw.c_str(), "wb");
	if (!f)
		die("cannot write " + raw);
	std::mt19937_64 g(42);
	std::vector<unsigned long long> buf(1 << 16);
	for (std::size_t done = 0; done < n; done += buf.size() * 8) {
		for (auto &x : buf)
			x = g();
		std::size_t k = std::min(n - done, buf.size() * 8);
		if (std::fwrite(buf.data(), 1, k, f) != k)
			die("cannot write " + raw);
	}
	if (std::fclose(f) != 0)
		die("cannot write " + raw);
	sh(std::string(FRAMEPACK) + " -s " + std::to_string(size) + " " + raw + " > " + stream);
	rm(raw);
	return stream;
}

double median(std::vector<double> v)
{
	std::sort(v.begin(), v.end());
	std::size_t n = v.size();
	return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct row {
	std::vector<double> ratio, a, b;
};

// framecap (a) against a copy (b); every run writes a fresh file, and the
// old one is removed outside the timed part.
row versus(const std::string &a, const std::string &b)
{
	row r;
	for (int i = 0; i < warmup + pairs; i++) {
		rm(dir + "/out");
		run_result ra = sh(a);
		rm(dir + "/copy");
		run_result rb = sh(b);
		if (i < warmup)
			continue;
		r.a.push_back(ra.secs);
		r.b.push_back(rb.secs);
		r.ratio.push_back(ra.secs / rb.secs);
	}
	rm(dir + "/out");
	rm(dir + "/copy");
	return r;
}

void print(const char *what, const char *against, const row &r)
{
	std::printf("%-32s %-22s %8.3f s %8.3f s %7.2f %7.2f %7.2f\n", what, against, median(r.a), median(r.b),
		median(r.ratio), *std::min_element(r.ratio.begin(), r.ratio.end()),
		*std::max_element(r.ratio.begin(), r.ratio.end()));
}

off_t size_of(const std::string &path)
{
	struct stat st;
	return stat(path.c_str(), &st) == 0 ? st.st_size : 0;
}

}  // namespace

int main(int argc, char **argv)
{
	dir = std::string(argc > 1 ? argv[1] : "build") + "/bench";
	mkdir(dir.c_str(), 0777);
	const std::string cap = std::string(FRAMECAP) + " -p " + dir + " out";
	const std::string dd = "dd bs=128K status=none of=" + dir + "/copy";

	std::printf("making streams under %s ...\n", dir.c_str());
	std::string s767 = make_stream("512M-767", std::size_t(512) << 20, 767);
	std::string s16 = make_stream("64M-16", std::size_t(64) << 20, 16);
	std::string small = make_stream("16M-767", std::size_t(16) << 20, 767);

	std::printf("\n%d pairs after %d warm-up; ratio = framecap time / copy time\n\n", pairs, warmup);
	std::printf("%-32s %-22s %10s %10s %7s %7s %7s\n", "framecap", "copy", "framecap", "copy", "median",
		"min", "max");
	row file767 = versus(cap + " < " + s767, dd + " if=" + s767);
	print("512 MiB, 767-byte packets, file", "dd bs=128K", file767);
	print("", "cat (copy_file_range)", versus(cap + " < " + s767, "cat " + s767 + " > " + dir + "/copy"));
	print("64 MiB, 16-byte packets, file", "dd bs=128K", versus(cap + " < " + s16, dd + " if=" + s16));
	print("512 MiB, 767-byte packets, pipe", "cat | dd bs=128K",
		versus("cat " + s767 + " | " + cap, "cat " + s767 + " | " + dd));
	// What reading in blocks of 10,000 bytes costs before anything is done
	// with them: no filter that reads so can beat this.
	print("floor: 10,000-byte reads alone", "dd bs=128K",
		versus("dd bs=10000 status=none of=/dev/null if=" + s767, dd + " if=" + s767));

	std::printf("\nthroughput, 767-byte packets from a file: %.0f MB/s of stream\n",
		static_cast<double>(size_of(s767)) / median(file767.a) / 1e6);
	for (const std::string &s : {small, s767}) {
		long rss = 0;
		for (int i = 0; i < 3; i++) {
			rm(dir + "/out");
			rss = std::max(rss, sh("exec " + cap + " < " + s).rss_kib);
		}
		std::printf("peak resident memory, %4lld MiB stream: %ld KiB\n",
			static_cast<long long>(size_of(s) >> 20), rss);
	}

	for (const std::string &s : {s767, s16, small})
		rm(s);
	rm(dir + "/out");
	return 0;
}
