// packet.h: the wire format, and what the parts of framecap share.
//
// A packet on the wire:
//
//   start  1 byte   0xF0
//   type   1 byte   0 to 50
//   length 2 bytes  big-endian: payload length + 5
//   payload         0 to 767 bytes
//   check  1 byte   previous packet's check + 1 (mod 256) for TRAILER and DATA
#ifndef FRAMECAP_PACKET_H
#define FRAMECAP_PACKET_H

#include <csignal>
#include <cstdint>
#include <cstring>
#include <string>

constexpr unsigned char pk_start = 0xF0;

constexpr unsigned char pk_header = 0x00;
constexpr unsigned char pk_trailer = 0x01;
constexpr unsigned char pk_keyin = 0x10;
constexpr unsigned char pk_data = 0x20;
constexpr unsigned char pk_maxtype = 50;  // higher type bytes are skipped

constexpr int pk_lenoff = 5;    // length field = payload length + pk_lenoff
constexpr int pk_maxlen = 767;  // largest payload accepted
constexpr int pk_room = 1000;   // size of the payload buffer

struct packet {
	std::uint8_t type;
	std::int32_t length;  // payload length
	std::uint8_t payload[pk_room];
	std::uint8_t check;  // check byte of the last packet framed
};

// The packet being handled, and the check byte of the one before it.
extern packet pk;
extern unsigned char prev;

// Capture settings.
extern bool verbose;
extern std::string path;  // output file
extern int outfile;       // its descriptor; -1 when there is none
extern int status;        // exit status so far

// Input byte source: standard input in blocks of up to blk bytes.
constexpr int blk = 10000;
extern unsigned char data[blk];
extern std::int32_t size;    // bytes in data
extern std::int32_t offset;  // next byte to hand out

void rd_fill();  // next block; ends the process at the end of input

// The next byte of standard input.
inline void rd_data(unsigned char *out)
{
	if (offset >= size)
		rd_fill();
	*out = data[offset++];
}

void rd_seek(unsigned char b);         // consume through the next b
void rd_copy(unsigned char *dst, int n);  // the next n bytes

// memcpy, with the short copies of small packets done in place rather than
// by a call: two overlapping moves of a fixed size cover any length up to
// twice that size.
inline void copy(unsigned char *d, const unsigned char *s, std::size_t n)
{
	if (n >= 8 && n <= 16) {
		std::memcpy(d, s, 8);
		std::memcpy(d + n - 8, s + n - 8, 8);
	} else if (n >= 4 && n < 8) {
		std::memcpy(d, s, 4);
		std::memcpy(d + n - 4, s + n - 4, 4);
	} else if (n < 4) {
		for (std::size_t i = 0; i < n; i++)
			d[i] = s[i];
	} else {
		std::memcpy(d, s, n);
	}
}

// Framing: fills pk with the next packet; ch is the scan byte.
void frame(unsigned char &ch);

// Packet actions, output and the end of the run.
void act();
void flush();      // everything accepted goes to the file and the log
void close_out();  // flush and close the output file
void warn(const char *what, int err);  // "framecap: what: reason", status 1
[[noreturn]] void quit();              // close up and exit with status

// The signal that ends the run (the time limit's SIGALRM, or SIGHUP, SIGINT
// or SIGTERM), once it has come; 0 before.
extern volatile std::sig_atomic_t caught;
[[noreturn]] void end_by_signal();  // save the capture, then die of it

#endif
