#pragma once

// The whole start-up, in its fixed order; returns only if the message loop ends.
void RunStartup();
