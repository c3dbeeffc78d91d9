#pragma once
// ServiceReply: the one reader of the web service's reply envelope {"ret": <int>, "data": ...}.
//
//   ServiceReply reply;
//   if (!reply.Parse(body)) { /* "does not parse": the caller's failure branch */ }
//   else if (reply.Ret() != 0) { /* the endpoint's error code */ }
//   else { reply.DataText(); reply.DataMember("app_version"); reply.DataMemberInt("force_upgrade", n); }
//
// Parse accepts only a JSON object whose "ret", when present, is an integer (a missing "ret"
// reads as 0). Nothing here throws: members of the wrong type read as empty text or fail their
// conversion. Not thread-safe per object; separate objects may be used on any thread.

#include <json/value.h>

#include <string>

class ServiceReply {
public:
    // False when body is not a JSON object or its "ret" is not an integer.
    bool Parse(const std::string& body);

    int Ret() const { return ret_; }
    const Json::Value& Data() const { return data_; }

    // "data" as text when it is a string, number or boolean; empty otherwise.
    std::string DataText() const;
    // Member name of the object "data" as text (numbers as their decimal text); empty when "data"
    // is not an object or the member is missing, null, an array or an object.
    std::string DataMember(const char* name) const;
    // DataMember converted as a base-10 integer (JSON number or numeric string, optional sign,
    // nothing else; a JSON boolean is 1 or 0); false when missing, not numeric or out of range.
    bool DataMemberInt(const char* name, long long& value) const;

private:
    int ret_ = 0;
    Json::Value data_;
};

// The text of a scalar JSON value (string, integer, real, boolean); empty for anything else.
std::string ScalarText(const Json::Value& value);
