# The layout of src/, written once: which folders each folder may include (itself first),
# and which headers of those folders it must not include all the same. tests/layout.cmake
# checks every source against it; src/CMakeLists.txt and ARCHITECTURE.md point here.
# The core's folders stand on one another (base on Qt Core only); nothing includes app/.
set(may_include_base base)
set(may_include_textio textio base)
set(may_include_quotes quotes textio base)
set(may_include_filelist filelist textio base)
set(may_include_samples samples filelist textio base)
set(may_include_cli cli quotes filelist textio base)
set(may_include_app app quotes filelist samples textio base)

# Headers, named as they are included ("base/failure.h"), that one folder must not include
# although their folder is allowed. A folder with no such list has none. The engine reports
# what happened to a file; the failure trap and the boxes are the window's.
set(must_not_include_textio "base/failure.h" "base/prompts.h")
set(must_not_include_quotes "base/failure.h" "base/prompts.h")

# The engine's files: plain C++20 and the platform's own calls, built without Qt (the
# parvello_engine library, also for Windows). Each may include no Qt header, nor a header of
# src/ that is not itself one of them. Patterns are relative to src/. parvello-cli (cli/) is
# held to the same: it links the engine alone.
set(engine_files
    base/fileattributes.h base/filestatus.* base/pathstyle.h base/portable.h base/win32.*
    base/printabletext.* base/separators.h
    textio/atomicfile.* textio/atomicfile_copies.cpp textio/atomicfile_flush.cpp
    textio/atomicfile_unix.h textio/atomicfile_win32.cpp textio/extendedattributes.*
    textio/leftovers.*
    textio/bufferpool.* textio/codepage.* textio/fileerror.* textio/linearray.h
    textio/readonlyfile.* textio/signals.h textio/textencoder.* textio/textscan.*
    textio/outputfile.* textio/reading.* textio/textloader.* textio/textsource.* textio/writing.*
    textio/writebehind.*
    textio/simd/*
    quotes/blocklines.h quotes/fileengine.* quotes/quoterule.* quotes/stagedoutput.*
    quotes/unreadsources.*
    filelist/folderaccess.* filelist/folderscan.* filelist/foldertree.*
    filelist/casefolding.h filelist/wildcard.*
    base/addresses.h.in
    cli/*)
