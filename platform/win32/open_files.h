// Between the Windows back ends: the file service's open handles, for the process service.
#pragma once

/// Closes the system handle behind every file this process has open, so that the files
/// can be deleted while the process ends. The handles stay listed but fail from now on.
/// Runs on the thread of a console event while the program's thread may still run.
void win32_close_every_file();
