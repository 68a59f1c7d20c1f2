#include "tools/quexsim/wire.h"

#include <openssl/evp.h>

#include <cctype>
#include <cstdio>

namespace quexsim {

uint16_t ReadBe16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

uint32_t ReadBe32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

void AppendBe16(Bytes& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void AppendBe32(Bytes& out, uint32_t v) {
    AppendBe16(out, static_cast<uint16_t>(v >> 16));
    AppendBe16(out, static_cast<uint16_t>(v));
}

std::optional<Header> ParseHeader(const uint8_t* data, size_t size) {
    if (size < kHeaderSize) return std::nullopt;
    return Header{ReadBe32(data), ReadBe16(data + 4), ReadBe16(data + 6)};
}

std::optional<std::vector<Field>> ParseFields(const uint8_t* data, size_t size) {
    std::vector<Field> fields;
    size_t p = 0;
    while (p < size) {
        if (size - p < 2) return std::nullopt;
        const size_t len = data[p + 1];
        if (size - p - 2 < len) return std::nullopt;
        fields.push_back(Field{data[p], Bytes(data + p + 2, data + p + 2 + len)});
        p += 2 + len;
    }
    return fields;
}

Bytes BuildDatagram(uint32_t magic, uint16_t type, const std::vector<Field>& fields,
                    std::optional<uint16_t> headerLength) {
    Bytes out;
    AppendBe32(out, magic);
    AppendBe16(out, type);
    AppendBe16(out, 0);
    for (const Field& f : fields) {
        out.push_back(f.code);
        // A value longer than 255 bytes cannot be described; cut it.
        const size_t len = f.value.size() > 255 ? 255 : f.value.size();
        out.push_back(static_cast<uint8_t>(len));
        out.insert(out.end(), f.value.begin(), f.value.begin() + static_cast<std::ptrdiff_t>(len));
    }
    const uint16_t length = headerLength ? *headerLength : static_cast<uint16_t>(out.size() - kHeaderSize);
    out[6] = static_cast<uint8_t>(length >> 8);
    out[7] = static_cast<uint8_t>(length);
    return out;
}

size_t AuthPrefixLength(uint16_t type) {
    switch (type) {
    case kSetNetworkRequest:
        return 19;
    case kRebootRequest:
        return 7;
    case kSetDhcpRequest:
        return 8;
    default:
        return 0;
    }
}

std::optional<ConfigRequest> ParseConfigRequest(const uint8_t* data, size_t size, std::string& why) {
    const auto header = ParseHeader(data, size);
    if (!header) {
        why = "shorter than a header";
        return std::nullopt;
    }
    const size_t prefix = AuthPrefixLength(header->type);
    if (prefix == 0) {
        why = "not a configuration request";
        return std::nullopt;
    }
    if (header->length != size - kHeaderSize) {
        why = "header length does not match the datagram";
        return std::nullopt;
    }
    if (size < kHeaderSize + prefix) {
        why = "shorter than its fixed body";
        return std::nullopt;
    }
    ConfigRequest r;
    r.type = header->type;
    const uint8_t* body = data + kHeaderSize;
    switch (r.type) {
    case kSetNetworkRequest:
        r.ip = ReadBe32(body);
        r.subnet = ReadBe32(body + 4);
        r.gateway = ReadBe32(body + 8);
        std::copy(body + 12, body + 18, r.target.begin());
        break;
    case kRebootRequest:
        std::copy(body, body + 6, r.target.begin());
        break;
    case kSetDhcpRequest:
        r.dhcpFlag = body[0];
        std::copy(body + 1, body + 7, r.target.begin());
        break;
    default:
        break;
    }
    r.authLength = body[prefix - 1];
    const size_t authEnd = kHeaderSize + prefix + r.authLength;
    if (authEnd > size) {
        why = "authentication block runs past the datagram";
        return std::nullopt;
    }
    r.auth.assign(data + kHeaderSize + prefix, data + authEnd);
    r.trailer.assign(data + authEnd, data + size);
    return r;
}

std::optional<DiscoveryRequest> ParseDiscoveryRequest(const uint8_t* data, size_t size, std::string& why) {
    const auto header = ParseHeader(data, size);
    if (!header || header->type != kDiscoveryRequest) {
        why = "not a discovery request";
        return std::nullopt;
    }
    if (header->length != size - kHeaderSize) {
        why = "header length does not match the datagram";
        return std::nullopt;
    }
    if (size < kHeaderSize + 6) {
        why = "no target MAC";
        return std::nullopt;
    }
    DiscoveryRequest r;
    std::copy(data + 8, data + 14, r.target.begin());
    const auto fields = ParseFields(data + 14, size - 14);
    if (!fields) {
        why = "trailing fields run past the datagram";
        return std::nullopt;
    }
    for (const Field& f : *fields) {
        if (f.code == kFieldVersion && f.value.size() == 2) r.version = ReadBe16(f.value.data());
        if (f.code == kFieldVendorGuid && f.value.size() == 16) {
            Guid g;
            std::copy(f.value.begin(), f.value.end(), g.begin());
            r.vendorGuid = g;
        }
    }
    return r;
}

bool ParseTrailer(const Bytes& trailer, uint16_t& version, Guid& guid, std::string& why) {
    if (trailer.size() != 22) {
        why = "trailer is " + std::to_string(trailer.size()) + " bytes, not 22";
        return false;
    }
    if (trailer[0] != kFieldVersion || trailer[1] != 2) {
        why = "trailer does not start with field 20 of length 2";
        return false;
    }
    if (trailer[4] != kFieldVendorGuid || trailer[5] != 16) {
        why = "trailer has no field 21 of length 16";
        return false;
    }
    version = ReadBe16(trailer.data() + 2);
    std::copy(trailer.begin() + 6, trailer.end(), guid.begin());
    return true;
}

std::array<uint8_t, 16> RequestDigest(const Challenge& challenge, const std::string& password,
                                      const uint8_t* typeBytes, const uint8_t* prefix, size_t prefixLength) {
    std::array<uint8_t, 16> out{};
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    unsigned int len = 0;
    if (ctx && EVP_DigestInit_ex(ctx, EVP_md5(), nullptr) == 1 &&
        EVP_DigestUpdate(ctx, challenge.data(), challenge.size()) == 1 &&
        EVP_DigestUpdate(ctx, password.data(), password.size()) == 1 &&
        EVP_DigestUpdate(ctx, typeBytes, 2) == 1 && EVP_DigestUpdate(ctx, prefix, prefixLength) == 1) {
        EVP_DigestFinal_ex(ctx, out.data(), &len);
    }
    EVP_MD_CTX_free(ctx);
    return out;
}

std::string Hex(const uint8_t* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        s.push_back(digits[data[i] >> 4]);
        s.push_back(digits[data[i] & 15]);
    }
    return s;
}

namespace {
int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Hex digits with optional separators (":", "-", " ", "{", "}").
std::optional<Bytes> ParseHexLoose(const std::string& text) {
    std::string digits;
    for (char c : text) {
        if (c == ':' || c == '-' || c == ' ' || c == '{' || c == '}') continue;
        digits.push_back(c);
    }
    return ParseHex(digits);
}
}  // namespace

std::optional<Bytes> ParseHex(const std::string& text) {
    if (text.size() % 2 != 0) return std::nullopt;
    Bytes out;
    for (size_t i = 0; i < text.size(); i += 2) {
        const int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    return out;
}

std::string MacText(const Mac& mac) {
    char buf[18];
    std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4],
                  mac[5]);
    return buf;
}

std::optional<Mac> ParseMac(const std::string& text) {
    const auto b = ParseHexLoose(text);
    if (!b || b->size() != 6) return std::nullopt;
    Mac m;
    std::copy(b->begin(), b->end(), m.begin());
    return m;
}

std::string GuidText(const Guid& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  g[0], g[1], g[2], g[3], g[4], g[5], g[6], g[7], g[8], g[9], g[10], g[11], g[12], g[13],
                  g[14], g[15]);
    return buf;
}

std::optional<Guid> ParseGuid(const std::string& text) {
    const auto b = ParseHexLoose(text);
    if (!b || b->size() != 16) return std::nullopt;
    Guid g;
    std::copy(b->begin(), b->end(), g.begin());
    return g;
}

std::string MagicText(uint32_t magic) {
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = static_cast<char>((magic >> shift) & 0xFF);
        s.push_back(std::isprint(static_cast<unsigned char>(c)) ? c : '?');
    }
    return s;
}

std::optional<uint32_t> ParseMagic(const std::string& text) {
    if (text.size() != 4) return std::nullopt;
    uint32_t m = 0;
    for (char c : text) m = (m << 8) | static_cast<uint8_t>(c);
    return m;
}

std::string AddressText(uint32_t a) {
    return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 0xFF) + "." +
           std::to_string((a >> 8) & 0xFF) + "." + std::to_string(a & 0xFF);
}

std::optional<uint32_t> ParseAddress(const std::string& text) {
    uint32_t out = 0;
    size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (pos >= text.size() || !std::isdigit(static_cast<unsigned char>(text[pos]))) return std::nullopt;
        unsigned value = 0;
        size_t digits = 0;
        while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            if (++digits > 3 || value > 255) return std::nullopt;
            ++pos;
        }
        out = (out << 8) | value;
        if (part < 3) {
            if (pos >= text.size() || text[pos] != '.') return std::nullopt;
            ++pos;
        }
    }
    if (pos != text.size()) return std::nullopt;
    return out;
}

}  // namespace quexsim
