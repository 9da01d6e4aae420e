#pragma once
// The settings that make the simulated unit show what it is for, seeded into a root's
// opt/set/ by `ampsim --show-job` (the README's run command); a root built without it keeps
// the settings of a unit fresh from the factory, which the tests rely on.
//
//   setup.txt       AUTO TUNE on (AutoTuneMode 1), target SWR 1.5 (SWRescAutoTune 150),
//                   the 5 dB attenuator while tuning (AttenuatorTune 3: the search's
//                   mismatches stay under the board's reflected-power trip), the climbing
//                   search (AutoTuneTipo 2: on the end-fed wire it reaches the target where
//                   the complete search stops beside the match), bank 1
//                   (NumBanco 1), the receiver's sample stream (EnableFFT 1)
//   antenna_b1.txt  bank 1 follows the maker's transceiver ("!Ixo"), the amplifier in line
//                   and the tuner in use on every band, each band on the antenna output
//                   whose antenna suits it best (jobAntennaOutput)
//   ventola.txt     a fan table: 30 % from 40 degrees, 60 % from 50, 100 % from 55
//
// Files already there are kept: a person's own changes survive the next start.
#include <string>

namespace sim {

// The antenna output (1 the dipole, 2 the vertical, 3 the end-fed wire) of the bank row of
// a band, by the row's band name ("20m"); 0 for a name it does not know.
int jobAntennaOutput(const std::string& band);
// The files' contents, by name under opt/set/.
std::string jobSetupText();
std::string jobAntennaTableText();
std::string jobFanTableText();
// Writes the missing ones into <root>/opt/set/; throws std::runtime_error on a failure.
void seedJobSettings(const std::string& root);

} // namespace sim
