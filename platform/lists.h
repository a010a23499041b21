// The drive, directory and file lists the window walks through to a PDT file.
#pragma once

#include "platform/dir_list.h"
#include "platform/drive_list.h"
#include "platform/file_list.h"
#include "platform/folders.h"
#include "platform/list_errors.h"
#include "platform/volumes.h"
