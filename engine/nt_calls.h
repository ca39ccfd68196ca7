// ntdll's calls that the platform looks up rather than imports, typed as ntdll defines them.
#pragma once

#include <windows.h>
#include <winternl.h>

typedef NTSTATUS(NTAPI *NtCreateFileCall)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                                          PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG, ULONG, ULONG,
                                          ULONG, PVOID, ULONG);
typedef NTSTATUS(NTAPI *NtQueryInformationFileCall)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
                                                    FILE_INFORMATION_CLASS);
