// Why a file given cannot be read as (a piece of) an image, said the same by every program that
// takes files: "d88extract: cannot open 'x.d88': No such file or directory".
#pragma once

void printFileOpenFailure(const char* program, const char* path, int error);
