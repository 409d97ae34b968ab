// Qt deletes a widget's children in QWidget's destructor, after the destructor of the class
// derived from it has run. A child that emits while it goes (a line edit that loses the focus
// says its editing is finished) would then reach a slot of an object that is no longer of its
// class. Widgets whose children are connected to them call this first in their destructor.
#pragma once

class QObject;

// Cuts every connection from the receiver's descendants to it (or to lambdas it is the
// context of).
void DisconnectDescendants(QObject& receiver);
