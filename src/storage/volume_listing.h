#pragma once

// -lv: every volume of the machine.
void ListVolumes();
