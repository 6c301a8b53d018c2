// Functions of the foundation library that the program exports by name.
#pragma once

#define ESL_EXPORT extern "C" __declspec(dllexport)
