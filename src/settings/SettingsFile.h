#pragma once

// Moves ConnectionTable and the colours between memory and the settings file.
namespace Global {

// Fills ConnectionTable from [Connections], up to the first missing ConName and at most 50
// rows; rows above the count keep what they held. A row marked default names DefaultEntryName.
void LoadConnections();

// Writes the colours and the first PhonebookCount rows, releasing the settings lock around the
// write. The displays repaint when the guard tells them the settings were saved. False when the
// file could not be written (a full disk): it is then left as it was.
bool SaveSettings();

} // namespace Global
