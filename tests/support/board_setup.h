#pragma once
// The physical board most end-to-end tests start from: the 30 MHz band row's calibration
// (forward 1000 W, reflected 250 W and input 10 W at full scale), temperatures settled at
// 40 and 30 degrees, 10 W of drive into a load of SWR 2, attached to the unit's board.
#include "board_physics.h"
#include "sim_unit.h"

inline void attachCalibratedBoard(sim::SimUnit& unit, sim::BoardPhysics& physics)
{
    physics.setCalibration({1000.0 / 16e6, 250.0 / 16e6, 10.0 / 1e6, 0.0});
    physics.setTimeScale(0);
    physics.setTemperatures(40, 30);
    physics.setDrivePower(10);
    physics.setLoadSwr(2.0);
    unit.board().state().setPhysics(physics.hook());
}
