#pragma once
// What the input-source tests share: taking down the source manager with the parameter
// block and the configuration it was built on, and the register writes a chip got.
#include <utility>
#include <vector>

namespace kel_test {

// Deletes the source manager, the parameter block and the configuration (each may be absent).
void dropSources();
// The register/value pairs written to the I2C device at address8, in order.
std::vector<std::pair<int, int>> i2cWrites(int address8);

} // namespace kel_test
