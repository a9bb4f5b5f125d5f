#pragma once

// The simulated pairing's fixed PEM texts: the host side (root and host certificate with their keys, handed out in
// the pair record) and the device side (its certificate and key for the TLS session, its public key in PKCS#1 form
// as lockdown's DevicePublicKey).
namespace simcerts {
extern const char kRootCertificate[];
extern const char kRootPrivateKey[];
extern const char kHostCertificate[];
extern const char kHostPrivateKey[];
extern const char kDeviceCertificate[];
extern const char kDevicePrivateKey[];
extern const char kDevicePublicKey[];
} // namespace simcerts
