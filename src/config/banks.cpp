#include "config/banks.h"

#include "amplifier/errors.h"
#include "amplifier/link.h"
#include "config/antenna_table.h"
#include "core/setup.h"
#include "core/threads.h"
#include "core/works.h"
#include "tuner/tuner_files.h"

void LoadAllBankTable(Works* works, int bank)
{
    works->interfaceMode = LoadTabConfig(works, bank);
    for (int antenna = 0; antenna < 3; ++antenna)
        LoadTabAtu(works, bank, antenna);
    SetModeWorkIDX(works);
}

void ChangeBanco(Works* works)
{
    works->numBanco += 1;
    if (works->numBanco >= works->maxBank)
        works->numBanco = 0;
    writeSetup(works);
    LoadAllBankTable(works, works->numBanco);
    works->antennaRowIdx = -1;
}

void ChangeInterfaceBanco(Works* works)
{
    works->interfaceMode += 1;
    if (works->interfaceMode > 2)
        works->interfaceMode = 0;
    SetModeWorkIDX(works);
    SaveToBank(works, works->numBanco, works->antenna);
}

void SetModeWorkIDX(Works* works)
{
    Orvosetup* s = works->setup;
    if (s) {
        // The source threads poll their switch: flipped in place as atomics.
        const char serial = setupSwitch(s, &Orvosetup::enaser);
        const char catSerial = setupSwitch(s, &Orvosetup::enaCatSer);
        switch (works->interfaceMode) {
        case 1:
            if (serial == '0') {
                setSetupSwitch(s, &Orvosetup::enaser, '1');
                StartThreadIXO(works);
            }
            if (catSerial == '1')
                setSetupSwitch(s, &Orvosetup::enaCatSer, '0');
            break;
        case 2:
            if (catSerial == '0') {
                setSetupSwitch(s, &Orvosetup::enaCatSer, '1');
                StartThreadCATserial(works);
            }
            if (serial == '1') {
                setSetupSwitch(s, &Orvosetup::enaser, '0');
                DeleteErrore(works, ERR_IXO_EXTIO);
            }
            break;
        default:
            if (serial == '1') {
                setSetupSwitch(s, &Orvosetup::enaser, '0');
                DeleteErrore(works, ERR_IXO_EXTIO);
            }
            if (catSerial == '1')
                setSetupSwitch(s, &Orvosetup::enaCatSer, '0');
            break;
        }
    }
    IncPNTIn_CMDLinear(CMD_GENERAL_SETTINGS, works);
}
