// The file and path routines of the archive engine in one include.
#pragma once

#include "archive/base/directories.h"
#include "archive/base/file_info.h"
#include "archive/base/mask_match.h"
#include "archive/base/path_names.h"
#include "archive/base/temp_file_stream.h"
