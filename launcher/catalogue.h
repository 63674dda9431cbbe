#ifndef QUILLET_CATALOGUE_H
#define QUILLET_CATALOGUE_H

// The VM catalogue "rask.cfg" of a runtime and the choice of the VM flavour to run.
//
// Each catalogue line names a VM option ("-client") and its kind; entry 0 is the default VM.
// Wherever a catalogue text names a VM (a directory under the runtime's architecture
// directory), its first character, the dash, is left out: see vmName().

#include <cstdint>

// What a catalogue entry says about its VM. The values are part of the catalogue's contract.
enum VmKind : int32_t {
  VM_KNOWN = 0,           // a VM that can be chosen
  VM_ALIASED_TO = 1,      // another name for the entry named by `alias`
  VM_WARN = 2,            // refused with a warning; entry 0 runs instead
  VM_ERROR = 3,           // refused; choosing it ends the launcher
  VM_IF_SERVER_CLASS = 4, // as the default, replaced by `serverClass` on server-class machines
  VM_IGNORE = 5,          // silently replaced by entry 0
};

// One line of the catalogue. All texts are ORU_StringDup copies and keep their leading dash.
struct VmCatalogueEntry {
  char *name; // the option text, e.g. "-client"
  VmKind kind;
  char *alias;       // only for VM_ALIASED_TO, else null
  char *serverClass; // only for VM_IF_SERVER_CLASS, else null
};

// The process-wide catalogue: `count` entries in an array of `capacity`, both 0 until read.
struct VmCatalogue {
  VmCatalogueEntry *entries;
  int count;
  int capacity;
};
extern VmCatalogue vmCatalogue;

// Reads "<runtimeDir>/lib/<arch>/rask.cfg" into vmCatalogue (replacing anything read before)
// and returns the number of entries. Malformed lines draw a warning on standard error and are
// dropped or repaired; a file that cannot be opened writes "Error: could not open `<path>'" and
// exits with status 1. Lines are read in chunks of at most 4115 bytes, and the last byte of
// each chunk is removed as its newline, whatever it is.
int readVmCatalogue(const char *runtimeDir, const char *arch);

// The index of the first entry whose name equals `text` once a leading "-J" is removed from
// `text`, or -1. `text` must not be null.
int vmCatalogueIndex(const char *text);

// The VM that a catalogue text names: the text less its first character (the dash). An empty
// text names the empty VM. `text` must not be null.
const char *vmName(const char *text);

// The VM to use when nothing chooses one: entry 0's VM or, when `serverClass` is true and
// entry 0 has the kind VM_IF_SERVER_CLASS, its server-class VM. Null for an empty catalogue.
const char *catalogueDefaultVm(bool serverClass);

// Chooses the VM from the VM selection options in (*argc, *argv) (catalogue names, also
// behind "-J", and "-XXaltrask=" / "-J-XXaltrask=" paths; the last one decides), else
// "FEN_ALTERNATE_VM", else the catalogue default. Replaces *argc and *argv by a copy
// (allocated with ORU_MemAlloc, null-terminated, argument 0 kept) without the selection
// options; the old vector is left alone. Returns a directory name under the runtime's
// architecture directory or a path; null only when no VM is named and the catalogue is empty.
// An alias cycle, an unresolvable alias and a VM_ERROR choice end the launcher (status 1).
// The caller must have read the catalogue; *argv must hold *argc entries.
const char *chooseVm(int *argc, char ***argv);

// Frees every entry's texts (setting them to null), then the array, and empties vmCatalogue.
void freeVmCatalogue();

#endif
