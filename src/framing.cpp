// framing.cpp: find the next packet in the input and fill pk with it.
#include "packet.h"

packet pk;
unsigned char prev;

// A frame whose type or length is out of range is dropped without a word.
// What ch holds then decides where the next frame begins: after a bad type
// it still holds the start byte, so the very next byte is taken as the type;
// after a bad length it holds the low length byte, which starts a frame only
// if it is 0xF0.
void frame(unsigned char &ch)
{
	for (;;) {
		if (ch != pk_start) {
			rd_seek(pk_start);
			ch = pk_start;
		}
		rd_data(&pk.type);
		if (pk.type > pk_maxtype)
			continue;
		rd_data(&ch);
		int hi = ch;
		rd_data(&ch);
		pk.length = hi * 256 + ch - pk_lenoff;
		if (pk.length < 0 || pk.length > pk_maxlen)
			continue;
		rd_copy(pk.payload, pk.length);  // by count: 0xF0 in a payload is payload
		prev = pk.check;
		rd_data(&pk.check);
		return;
	}
}
