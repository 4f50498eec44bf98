// The version resource (VS_VERSIONINFO) that Explorer's file properties
// and installers read: a fixed part with the numbers and one English
// (U.S.) table of strings.
#pragma once
#include <cstdint>
#include <string>

namespace sfx {

struct VersionFields {
  uint16_t number[4] = {0, 0, 0, 0};
  std::string text;         // as given, e.g. "5.9.1.0"
  // The product's version: the file's unless productText is given.
  uint16_t productNumber[4] = {0, 0, 0, 0};
  std::string productText;
  std::string product;      // UTF-8; empty ones are left out
  std::string company;
  std::string description;
  std::string copyright;
  std::string originalName;
};

// Reads "a[.b[.c[.d]]]" with each part from 0 to 65535.
bool ParseVersionNumber(const std::string& text, uint16_t number[4]);

// The resource's bytes. False when a string is not valid UTF-8.
bool BuildVersionResource(const VersionFields& fields, std::string* resource);

// A one-line summary of a version resource in UTF-8 ("5.9.1.0, ProductName
// "Quillane", ..."; "5.9.1.0 (product 5.9.0.0), ..." when the product's
// version numbers differ), or empty when it cannot be read.
std::string DescribeVersionResource(const std::string& resource);

}  // namespace sfx
