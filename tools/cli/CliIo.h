#pragma once
#include <cstdint>

namespace hanamail {

class DataBuffer;

// Standard input and output of the tool's commands, as whole streams.
namespace cli {

// Everything on standard input; false on a read error or when it does not fit.
bool readStandardInput(DataBuffer& out);

// Writes the bytes to standard output in one go (after whatever stdio holds);
// false when not all of them could be written.
bool writeStandardOutput(const void* bytes, uint64_t n);

}  // namespace cli

}  // namespace hanamail
