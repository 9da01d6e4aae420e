#pragma once
// Thermal protection, fan and supply readings of the amplifier.
#include <string>
#include <string_view>

struct Works;

// Supply voltage in volts from the 8-bit converter reading.
float CalvTensVadcAmp(Works* works, int raw);
float ConversionCelsius_to_Fahrenheit(float celsius);

// Alarm logic of one sensor: alarm code a above the limit, after-alarm code b once back
// below limit - isteresi1, warning code w just below the limit.
void GestTemperatureFunction(Works* works, int a, int b, int w, float t, float limit);
// on = 1: protection on ("MP1;" and "AT11;"); anything else: protection off ("MP0;").
void AttivaDisattivaProtezione(Works* works, int on);

// Reads the processor temperatures printed by "my_temp" into cpuTemp1 and cpuTemp2; a
// helper that has not finished after CPU_TEMP_TIMEOUT_MS is killed. False when there is
// no reading (the last ones stay); the first failure of a run of them is logged.
bool ReadCPUTemp(Works* works);
constexpr int CPU_TEMP_TIMEOUT_MS = 2000;
// The two temperatures of my_temp's output: the first line, and the 4 characters from the
// sixth of the second line. False when the output lacks either, or either is no number or
// not finite (values left unchanged).
bool parseCpuTemps(std::string_view output, float& cpu1, float& cpu2);

// Fan table and fan decision (fan.cpp).
void ReadVentolaFile(Works* works);
void searchPercentVentola(Works* works);
float SearchTemperatureFromVentola(Works* works, int percent);
// Fan percent that applies while the fan table has no rows: full cooling.
constexpr int FAN_PERCENT_WITHOUT_TABLE = 100;

// Temperature log /opt/set/LOGtemp.txt (temp_log.cpp): mode -1 deletes it, 0 appends a
// record, 1 appends a record marked as written at an alarm.
int LogTempFunction(Works* works, int mode);
// One record of the log, for the current readings and the given date and time text.
std::string tempLogRecord(Works* works, const char* dateTime, bool alarm);
constexpr const char* TEMP_LOG_HEADER = ";TX,Temp1,Temp2,FDD,SWR\n";
