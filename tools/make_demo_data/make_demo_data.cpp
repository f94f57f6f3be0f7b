// Writes a demo S-record data file: S2 records of 32 data bytes from load address 0x300000 on,
// with an S0 header and an S8 end record, as the terminal's build tools write them. The data are
// pseudo-random but fixed by the file name, so every build writes the same bytes.
//
//     make_demo_data FILE BYTES [WRONG_CHECKSUMS]
//
// WRONG_CHECKSUMS records, spread over the file, get a wrong checksum, to show what the loader
// does with a damaged file.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t LoadAddress = 0x300000;
constexpr int BytesPerRecord = 32;

// S-record count: address, data and checksum bytes after the count field.
constexpr int AddressBytes = 3;
constexpr int ChecksumBytes = 1;

void appendHex(std::string &line, unsigned byte)
{
    static const char digits[] = "0123456789ABCDEF";
    line += digits[(byte >> 4) & 0xF];
    line += digits[byte & 0xF];
}

// One record: type, count, address, data, and the checksum, the one's complement of the low byte
// of the sum of count, address and data bytes.
std::string record(char type,
                   std::uint32_t address,
                   int addressBytes,
                   const std::vector<unsigned> &data,
                   bool wrongChecksum)
{
    std::string line = {'S', type};
    const unsigned count = unsigned(addressBytes + data.size() + ChecksumBytes);
    unsigned sum = count;
    appendHex(line, count);
    for (int shift = (addressBytes - 1) * 8; shift >= 0; shift -= 8) {
        const unsigned byte = (address >> shift) & 0xFF;
        sum += byte;
        appendHex(line, byte);
    }
    for (unsigned byte : data) {
        sum += byte;
        appendHex(line, byte);
    }
    unsigned checksum = ~sum & 0xFF;
    if (wrongChecksum)
        checksum ^= 0x5A;
    appendHex(line, checksum);
    return line + "\r\n";
}

// A small, fixed pseudo-random sequence (xorshift), seeded from the file name.
struct Sequence
{
    explicit Sequence(const std::string &seed)
    {
        for (char c : seed)
            state = state * 31 + std::uint8_t(c);
        if (state == 0)
            state = 1;
    }

    unsigned next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return unsigned(state & 0xFF);
    }

    std::uint64_t state = 0x9E3779B97F4A7C15ull;
};

std::string baseName(const std::string &path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: make_demo_data FILE BYTES [WRONG_CHECKSUMS]\n");
        return 2;
    }
    const std::string path = argv[1];
    const long size = std::strtol(argv[2], nullptr, 10);
    const long wrong = argc == 4 ? std::strtol(argv[3], nullptr, 10) : 0;
    const long records = (size + BytesPerRecord - 1) / BytesPerRecord;
    if (size <= 0 || size > 0x100000 || wrong < 0 || wrong > records) {
        std::fprintf(stderr,
                     "make_demo_data: BYTES must be 1 to 1048576, WRONG_CHECKSUMS at "
                     "most the number of records\n");
        return 2;
    }

    const std::string name = baseName(path);
    std::string text;
    std::vector<unsigned> header(name.begin(), name.end());
    text += record('0', 0, 2, header, false);

    Sequence data(name);
    for (long r = 0; r < records; ++r) {
        std::vector<unsigned> bytes;
        const long length = std::min<long>(BytesPerRecord, size - r * BytesPerRecord);
        for (long i = 0; i < length; ++i)
            bytes.push_back(data.next());
        // The damaged records lie evenly spread from the first one on.
        const bool damaged = wrong > 0 && r % (records / wrong) == 0
                             && r / (records / wrong) < wrong;
        text += record('2',
                       LoadAddress + std::uint32_t(r * BytesPerRecord),
                       AddressBytes,
                       bytes,
                       damaged);
    }
    text += record('8', LoadAddress, AddressBytes, {}, false);

    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::fprintf(stderr, "make_demo_data: cannot write %s\n", path.c_str());
        return 1;
    }
    return 0;
}
