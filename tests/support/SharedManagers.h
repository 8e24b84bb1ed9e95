#pragma once
// The program keeps one of each manager (the scaler's, the inputs', the FPGAs', the keyed
// settings); a test that set one up (a chip opened, a stage reached, settings of another
// data root read) would hand it to every test after it. Every fixture that touches them
// starts here: a fresh scaler manager without its thread, no input or FPGA manager (a
// test makes its own), the keyed settings read anew from the test's data root.
namespace kel_test {

void resetSharedManagers();

} // namespace kel_test
