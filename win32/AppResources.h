// Identifiers of the resources every Veltrad program carries (AppResources.rc).
#pragma once

#define IDR_MAINFRAME 128
