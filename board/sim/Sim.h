#pragma once
// The simulated board's control API for tests, benchmarks and the host run.
#include "board/sim/FakeDescriptors.h"
#include "board/sim/I2cBusModel.h"
#include "board/sim/Journal.h"
#include "board/sim/KeypadModel.h"
#include "board/sim/MtdModel.h"
#include "board/sim/SerialModel.h"
#include "board/sim/SimBoard.h"
#include "board/sim/SocModel.h"
#include "board/sim/SpiBusModel.h"
#include "board/sim/UeventModel.h"
