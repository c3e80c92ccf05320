#pragma once
// The keychain: small secrets (passwords and other data) kept as items of a class with
// attributes, found again by query.
//
// Items are generic passwords (kSecClassGenericPassword: service, account...) or internet
// passwords (kSecClassInternetPassword: server, port, protocol, authentication type, path,
// security domain, account...); both take a label, comment, description, generic data, an
// access group, an accessibility (or an access-control object), a synchronizable flag and the
// secret itself (kSecValueData). Creation and modification dates are kept by the store.
//
// Queries are dictionaries keyed by the constants below. kSecClass is required. Every
// attribute given must match exactly; kSecAttrSynchronizable absent matches only items that do
// not synchronise, kSecAttrSynchronizableAny matches both. kSecMatchLimit is one (the default),
// all, or a count; results come in the order the items were added. kSecReturnData gives the
// secret, kSecReturnAttributes the attributes (with the secret under kSecValueData when both are
// asked); with one match the result is that data or dictionary, with a limit of all or a count
// it is an array of them. kSecUseOperationPrompt and the authentication-UI options are accepted
// and have no effect.
//
// Two items of a class with the same identifying attributes are duplicates: for generic
// passwords the access group, account, service and synchronizable flag; for internet
// passwords the access group, account, security domain, server, protocol, authentication type,
// port, path and synchronizable flag.
//
// Storage: the whole keychain is one file, Library/Keychains/keychain.plist under the sandbox
// root, written atomically with mode 0600 after every change and read at the first call (and
// again when the sandbox root changes). A file that cannot be read as a keychain counts as empty (and is
// replaced by the next change); it never makes a call fail. All calls are thread-safe.

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/Value.h"
#include "security/SecAccessControl.h"
#include "security/SecBase.h"

// Item classes.
inline constexpr char kSecClass[] = "class";
inline constexpr char kSecClassGenericPassword[] = "genp";
inline constexpr char kSecClassInternetPassword[] = "inet";

// Attributes.
inline constexpr char kSecAttrAccessible[] = "pdmn";
inline constexpr char kSecAttrAccessControl[] = "accc";
inline constexpr char kSecAttrAccessGroup[] = "agrp";
inline constexpr char kSecAttrSynchronizable[] = "sync";
inline constexpr char kSecAttrSynchronizableAny[] = "syna";
inline constexpr char kSecAttrCreationDate[] = "cdat";
inline constexpr char kSecAttrModificationDate[] = "mdat";
inline constexpr char kSecAttrDescription[] = "desc";
inline constexpr char kSecAttrComment[] = "icmt";
inline constexpr char kSecAttrLabel[] = "labl";
inline constexpr char kSecAttrAccount[] = "acct";
inline constexpr char kSecAttrService[] = "svce";
inline constexpr char kSecAttrGeneric[] = "gena";
inline constexpr char kSecAttrSecurityDomain[] = "sdmn";
inline constexpr char kSecAttrServer[] = "srvr";
inline constexpr char kSecAttrProtocol[] = "ptcl";
inline constexpr char kSecAttrAuthenticationType[] = "atyp";
inline constexpr char kSecAttrPort[] = "port";
inline constexpr char kSecAttrPath[] = "path";

// kSecAttrAccessible values.
inline constexpr char kSecAttrAccessibleWhenUnlocked[] = "ak";
inline constexpr char kSecAttrAccessibleAfterFirstUnlock[] = "ck";
inline constexpr char kSecAttrAccessibleAlways[] = "dk";
inline constexpr char kSecAttrAccessibleWhenPasscodeSetThisDeviceOnly[] = "akpu";
inline constexpr char kSecAttrAccessibleWhenUnlockedThisDeviceOnly[] = "aku";
inline constexpr char kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly[] = "cku";
inline constexpr char kSecAttrAccessibleAlwaysThisDeviceOnly[] = "dku";

// kSecAttrProtocol values.
inline constexpr char kSecAttrProtocolFTP[] = "ftp ";
inline constexpr char kSecAttrProtocolFTPAccount[] = "ftpa";
inline constexpr char kSecAttrProtocolHTTP[] = "http";
inline constexpr char kSecAttrProtocolIRC[] = "irc ";
inline constexpr char kSecAttrProtocolNNTP[] = "nntp";
inline constexpr char kSecAttrProtocolPOP3[] = "pop3";
inline constexpr char kSecAttrProtocolSMTP[] = "smtp";
inline constexpr char kSecAttrProtocolSOCKS[] = "sox ";
inline constexpr char kSecAttrProtocolIMAP[] = "imap";
inline constexpr char kSecAttrProtocolLDAP[] = "ldap";
inline constexpr char kSecAttrProtocolAppleTalk[] = "atlk";
inline constexpr char kSecAttrProtocolAFP[] = "afp ";
inline constexpr char kSecAttrProtocolTelnet[] = "teln";
inline constexpr char kSecAttrProtocolSSH[] = "ssh ";
inline constexpr char kSecAttrProtocolFTPS[] = "ftps";
inline constexpr char kSecAttrProtocolHTTPS[] = "htps";
inline constexpr char kSecAttrProtocolHTTPProxy[] = "htpx";
inline constexpr char kSecAttrProtocolHTTPSProxy[] = "htsx";
inline constexpr char kSecAttrProtocolFTPProxy[] = "ftpx";
inline constexpr char kSecAttrProtocolSMB[] = "smb ";
inline constexpr char kSecAttrProtocolRTSP[] = "rtsp";
inline constexpr char kSecAttrProtocolRTSPProxy[] = "rtsx";
inline constexpr char kSecAttrProtocolDAAP[] = "daap";
inline constexpr char kSecAttrProtocolEPPC[] = "eppc";
inline constexpr char kSecAttrProtocolNNTPS[] = "ntps";
inline constexpr char kSecAttrProtocolLDAPS[] = "ldps";
inline constexpr char kSecAttrProtocolTelnetS[] = "tels";
inline constexpr char kSecAttrProtocolIRCS[] = "ircs";
inline constexpr char kSecAttrProtocolPOP3S[] = "pops";

// kSecAttrAuthenticationType values.
inline constexpr char kSecAttrAuthenticationTypeNTLM[] = "ntlm";
inline constexpr char kSecAttrAuthenticationTypeMSN[] = "msna";
inline constexpr char kSecAttrAuthenticationTypeDPA[] = "dpaa";
inline constexpr char kSecAttrAuthenticationTypeRPA[] = "rpaa";
inline constexpr char kSecAttrAuthenticationTypeHTTPBasic[] = "http";
inline constexpr char kSecAttrAuthenticationTypeHTTPDigest[] = "httd";
inline constexpr char kSecAttrAuthenticationTypeHTMLForm[] = "form";
inline constexpr char kSecAttrAuthenticationTypeDefault[] = "dflt";

// The secret.
inline constexpr char kSecValueData[] = "v_Data";

// Search and return options.
inline constexpr char kSecMatchLimit[] = "m_Limit";
inline constexpr char kSecMatchLimitOne[] = "m_LimitOne";
inline constexpr char kSecMatchLimitAll[] = "m_LimitAll";
inline constexpr char kSecReturnData[] = "r_Data";
inline constexpr char kSecReturnAttributes[] = "r_Attributes";

// Options about prompting, accepted and ignored.
inline constexpr char kSecUseOperationPrompt[] = "u_OpPrompt";
inline constexpr char kSecUseNoAuthenticationUI[] = "u_NoAuthUI";
inline constexpr char kSecUseAuthenticationUI[] = "u_AuthUI";
inline constexpr char kSecUseAuthenticationUIAllow[] = "u_AuthUIA";
inline constexpr char kSecUseAuthenticationUIFail[] = "u_AuthUIF";
inline constexpr char kSecUseAuthenticationUISkip[] = "u_AuthUIS";

// Adds an item from `attributes` (class, attributes and kSecValueData). errSecDuplicateItem when
// an item with the same identity exists; errSecParam for a missing or unknown class, an unknown
// key, or a value of the wrong kind. With return options, `result` gets the new item as a query
// would return it.
OSStatus SecItemAdd(const Dictionary& attributes, Value* result);
// Finds items; errSecItemNotFound when none match. `result` (may be null) as described above.
OSStatus SecItemCopyMatching(const Dictionary& query, Value* result);
// Changes every item that matches `query` (match limits ignored) to have `attributesToUpdate`.
// errSecItemNotFound when none match, errSecDuplicateItem when a change would make two items
// the same (nothing changes then).
OSStatus SecItemUpdate(const Dictionary& query, const Dictionary& attributesToUpdate);
// Removes every item that matches; errSecItemNotFound when none do.
OSStatus SecItemDelete(const Dictionary& query);

// The keychain file in use.
std::string SecItemKeychainFilePath();
