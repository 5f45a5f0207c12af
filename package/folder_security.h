// The install folder is the program's alone. It runs elevated, stages the package into
// <Program Files>\Orvix\<product>\ and copies its own staged image from there into the system
// folder, where the Add/Remove entry starts it elevated again: whoever may write either folder,
// or make one of them a link, decides what the program writes and where (README, "Security").
#pragma once

// Makes `vendorFolder` and `productFolder` (the product's, inside the vendor's) ready to stage
// into. The vendor folder is shared with the vendor's other products: one created here gets the
// program's descriptor, an existing one is never changed and is used only when FolderIsTrusted.
// The product folder is created with the program's descriptor, or, when it exists and is no
// reparse point, given that descriptor and Administrators as its owner (SetNamedSecurityInfoA
// takes the name as writable text). False, with nothing written into either folder, when one of
// them is refused.
bool PrepareInstallFolder(const char* vendorFolder, char* productFolder);

// Whether `folder` is a folder that no one but SYSTEM, Administrators, TrustedInstaller and the
// running user may write: no reparse point, one of them as owner, and no access entry that
// applies to the folder itself granting anyone else the right to add, delete or replace what it
// holds, or to change its entries or owner.
bool FolderIsTrusted(const char* folder);
