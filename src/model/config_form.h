#pragma once
// The configuration view as a plain value: what each editor of both layouts
// holds. Filled by ConfigToView, read back by ViewToConfig; the window binds
// its widgets to it.
struct ConfigForm {
};
