#pragma once
// The web panel's page (sim/web/panel.html, built into ampsim).
namespace sim {

const char* webPanelPage();

} // namespace sim
