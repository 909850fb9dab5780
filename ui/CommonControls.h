// Hosts do not all register the trackbar class, so the plug-in registers the
// common controls it uses before it creates any dialog. Cheap to call again.
#pragma once

void RegisterCommonControls();
