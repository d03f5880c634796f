#pragma once
#include "host/HostApi.h"

namespace kivo_rova {

// Lets two tracked fingertips pick up a polygon object, carry and turn it, and put it down again.
// Each evaluation casts a ray from each fingertip towards the other at every mesh and reports the
// mesh between the fingers; when the gap closes below distanceGrab the mesh's transform is
// grabbed and follows the fingers, and when it opens beyond distanceRelease the object is put
// down with one undoable placement command. Only finger1 dirties the outputs.
class KivoGrabNode : public RPxNode {
  public:
    static const RTypeId id;

    static RObject grabEnabled;
    static RObject rotationEnabled;
    static RObject translationEnabled;
    static RObject finger1;
    static RObject finger2;
    static RObject palmMatrix;
    static RObject distanceGrab;
    static RObject distanceRelease;
    static RObject fingersCenter;
    static RObject intersection1;
    static RObject intersection2;
    static RObject distance1;
    static RObject distance2;
    static RObject intersectObject;
    static RObject grabObject;

    KivoGrabNode() = default;
    ~KivoGrabNode() override;

    // Evaluates everything whatever the plug, marks that plug clean and answers success; no host
    // call's status stops it.
    RStatus compute(const RPlug& plug, RDataBlock& data) override;

    static void* createInstance();
    // Creates and adds the fifteen attributes and finger1's seven dependencies; reports nothing
    // and always answers success.
    static RStatus initializeAttributes();

  private:
    // "move -a ..." and "rotate -os ..." of the object, displayed and undoable when
    // recordInHost; nothing for "null".
    static void issuePlacementCommand(const RString& objectName, const RVector& translation,
                                      const RQuaternion& rotation, bool recordInHost);
    // Whether the held object is still in the scene, and its name there now.
    bool grabbedStillThere(RString& currentName) const;
    void endGrab(RDataBlock& data);

    RString m_grabbedName = "null";
    RVector m_grabVector;
    RVector m_grabOffset;
    RVector m_initialTranslation;
    RQuaternion m_initialRotation;
    RVector m_previousVector;
    RVector m_referenceRoll;
    RVector m_grabPalmX;
    RFnTransform m_transformFn;
    RVector m_previousFinger1;
    RVector m_previousFinger2;
    RVector m_currentTranslation;
    RQuaternion m_currentRotation;
};

}  // namespace kivo_rova
