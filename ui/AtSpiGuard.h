#pragma once

namespace vintrix {

// Qt 6.4 answers every org.freedesktop.DBus.Properties call on its AT-SPI
// objects as if it were Get or Set and reads a second argument, which GetAll
// does not have: an accessibility client that asks for all of an object's
// properties at once ends the program. Once Qt's AT-SPI objects are on the
// accessibility bus, this puts a filter in front of them that answers such a
// call with an error (the client then asks with Get) and hands every other
// call on to Qt. Call it once, after the application object exists.
void GuardAtSpiGetAll();

// Connects to the session bus. Qt's accessibility bridge does it as soon as
// the first control is given a caption, and waits for it (where there is no
// session bus, libdbus even tries to start one: 1.5 ms); a program may do it
// ahead, on another thread, even before its application object exists, once
// Qt knows its main thread.
void ConnectSessionBus();

}  // namespace vintrix
