// The code unit of the wide (UTF-16) text the wide Windows functions take.
#pragma once

#ifdef _WIN32
typedef wchar_t WideChar;
#else
typedef char16_t WideChar;
#endif
