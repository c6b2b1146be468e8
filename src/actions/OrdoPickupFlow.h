#pragma once

// The result pickup: what the pickup task does at every period while
// "Automatic Update" is on, and what "Pick Up Results" does at once.

// Picks up the results of the sent orders the panel shows (each order's
// change one step in the host's history), settles the orders that show Ready
// while a job of theirs is still out, and notes how long each order still
// out has waited: past the time limit the server is busy (its heartbeat is
// fresh) or not answering, which the log says once. Each job's result is
// asked from the server it was sent to. Nothing without a panel, or while
// the panel's document is not open.
void PickUpResults();

// Whether the panel is open and the document its list shows is open: the
// pickup has something to look at.
bool OrdoPanelDocumentIsOpen();
