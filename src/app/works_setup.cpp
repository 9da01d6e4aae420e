#include "app/works_setup.h"

#include "amplifier/errors.h"

std::unique_ptr<WorksRecords> buildWorksRecords()
{
    auto records = std::make_unique<WorksRecords>();
    Works* works = &records->works;
    works->setup = &records->setup;
    works->serPar = &records->serPar;
    works->spectrum = &records->spectrum;
    works->serMut = &records->serMut;
    works->wsMut = &records->wsMut;
    works->sendMut = &records->sendMut;
    InitGlobalVar(works);
    InitErrorTable(works);
    return records;
}
