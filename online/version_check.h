#pragma once
// Asks the update server once per start whether a newer version exists.
// Shows the change log when the published version differs; on OK opens the
// download page and ends the program. Nothing without an update server.
void CheckForUpdate();
