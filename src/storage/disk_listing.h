#pragma once

// -ld: every disk of the machine.
void ListDisks();
