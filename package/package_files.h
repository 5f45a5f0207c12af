// What the package consists of and where it is staged: every step may reach this.
#pragma once

// The install folder is <Program Files>\Orvix\<product name>\.
constexpr const char* kProgramFilesVariable = "ProgramFiles";
constexpr const char* kDefaultProgramFiles = "C:\\Program Files";
constexpr const char* kInstallVendorFolder = "Orvix";

// The package files that every staging copies after the INF argument, in copy order.
// The names are used exactly as written: the package ships them in this case.
constexpr const char* kPackageFiles[] = {
    "Net73417.din", "7341XDEL.EXE", "7341XNDI.DLL", "net7341a.inf", "net73417.inf", "rx90kw2a.cat",
    "RX90KW2K.CAT", "RX90K.CAT",    "RX90KA.CAT",   "RX90K.SYS",    "RX90KNT.SYS",  "RX90KNT5.SYS",
    "PRBQ410.EXE",  "WKE736.VXD",   "Kadrimov.exe", "OrvixNic.dll", "rx90kodi.com",
};

// The INFs that the default mode pre-installs, in this order; their record slots follow it.
constexpr const char* kDefaultInfs[] = {"net7341a.inf", "net73417.inf"};
