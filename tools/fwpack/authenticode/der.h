// A little DER: writing the few fixed structures a code signature needs and
// reading them back from untrusted bytes. Only single-byte tags and
// definite lengths, as DER allows nothing else for these structures.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fwpack::der {

using Bytes = std::vector<uint8_t>;

inline constexpr uint8_t kBitString = 0x03, kOctetString = 0x04, kNull = 0x05, kOid = 0x06,
                         kBmpString = 0x1e, kSequence = 0x30;
// Context-specific tags: [n] with content that is itself DER (constructed),
// or [n] standing in for a primitive type.
inline constexpr uint8_t Constructed(unsigned n) { return uint8_t(0xa0 | n); }
inline constexpr uint8_t Primitive(unsigned n) { return uint8_t(0x80 | n); }

// tag, length, content.
Bytes Tlv(uint8_t tag, const Bytes &content);
// The parts one after the other (the content of a SEQUENCE, say).
Bytes Cat(std::initializer_list<Bytes> parts);
// An OBJECT IDENTIFIER from its dotted form ("1.3.6.1.4.1.311.2.1.4").
Bytes Oid(const std::string &dotted);
// A BMPString's content: the text as big-endian UTF-16 (ASCII only).
Bytes Bmp(const std::string &ascii);

// One element read from [data, data + size).
struct Element {
    uint8_t Tag = 0;
    const uint8_t *Content = nullptr;
    size_t Length = 0;        // of the content
    size_t TotalLength = 0;   // tag, length and content
};

// Reads the element at the start of the bytes; false when they do not hold
// a whole one (short, indefinite or over-long length).
bool Read(const uint8_t *data, size_t size, Element &out);

// Walks the elements of a constructed element's content in order.
class Reader {
  public:
    Reader(const uint8_t *data, size_t size) : at_(data), left_(size) {}
    explicit Reader(const Element &e) : Reader(e.Content, e.Length) {}
    // The next element, which must have the tag; false otherwise.
    bool Next(uint8_t tag, Element &out);
    bool AtEnd() const { return left_ == 0; }

  private:
    const uint8_t *at_;
    size_t left_;
};

// The dotted form of an OBJECT IDENTIFIER's content; "" when malformed.
std::string OidText(const uint8_t *content, size_t length);

}  // namespace fwpack::der
