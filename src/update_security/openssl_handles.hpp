#pragma once
// Owners for the OpenSSL objects this module creates, so that every path frees them.
#include <openssl/bn.h>
#include <openssl/evp.h>

#include <memory>

namespace vostrane::openssl {

template <auto free_function>
struct deleter {
    template <class T>
    void operator()(T* object) const noexcept { free_function(object); }
};

using unique_bignum = std::unique_ptr<BIGNUM, deleter<BN_free>>;
using unique_bn_ctx = std::unique_ptr<BN_CTX, deleter<BN_CTX_free>>;
using unique_md_ctx = std::unique_ptr<EVP_MD_CTX, deleter<EVP_MD_CTX_free>>;
using unique_pkey = std::unique_ptr<EVP_PKEY, deleter<EVP_PKEY_free>>;

}  // namespace vostrane::openssl
