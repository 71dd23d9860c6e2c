// Identifiers of the station's resources and controls, shared by
// VeltradStation.rc and the C++ code.
#pragma once

#include "../AppResources.h"

#define IDD_STATION 200
#define IDR_STATION_KEYS 201

// The job panel.
#define IDC_JOB_GROUP 2000
#define IDC_NAME_LABEL 2001
#define IDC_JOB_NAME 2002
#define IDC_LOCKED 2003
#define IDC_IMAGE_LABEL 2004
#define IDC_IMAGE 2005
#define IDC_SHA 2006
#define IDC_COPY_SHA 2007
#define IDC_CHOOSE_IMAGE 2008
#define IDC_PORTS_LABEL 2009
#define IDC_PORTS 2010
#define IDC_SERIAL_NUMBERS 2011
#define IDC_RECORDS_LABEL 2012
#define IDC_RECORDS 2013
#define IDC_CHOOSE_RECORDS 2014
#define IDC_SOUNDS 2015
#define IDC_NEW_JOB 2016
#define IDC_OPEN_JOB 2017
#define IDC_SAVE_JOB 2018
#define IDC_EDIT_JOB 2019
#define IDC_OPEN_RECORDS 2020
#define IDC_RECORDS_WAITING 2021

// The bottom bar.
#define IDC_SERIAL_LABEL 2030
#define IDC_SERIAL_ENTRY 2031
#define IDC_START_ALL 2032
#define IDC_STOP_ALL 2033
#define IDC_COUNTERS 2034
#define IDC_SCAN_STATUS 2035

// The tiles, made at run time: tile i is IDC_TILE + i, its buttons
// IDC_TILE_START + i and IDC_TILE_STOP + i (16 tiles at most).
#define IDC_TILE 2100
#define IDC_TILE_START 2200
#define IDC_TILE_STOP 2300
