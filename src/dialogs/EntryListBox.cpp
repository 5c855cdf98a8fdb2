#include "dialogs/EntryListBox.h"
