#pragma once
// The .qft file type's DefaultIcon names "Qxftp.exe,-103": a negative index
// selects the icon by resource id, so this id is part of the installed
// registry contract and must not change.
#define IDI_QXFTP 103
